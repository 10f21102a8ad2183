// The axiswarp tool's subcommands. Each lives in its own cmd_*.cpp and adds
// itself to the application through one register function called from main.
#ifndef AXISWARP_CLI_COMMANDS_HPP
#define AXISWARP_CLI_COMMANDS_HPP

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>

namespace axiswarp::cli {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitModuleError = 1;  // the module raised an error
inline constexpr int kExitUsage = 2;        // bad command line, input file or output file

// Thrown by a subcommand to end the program with `status` once it has printed
// what the user needs to see. A tools::ToolError thrown instead is printed by
// main and ends the program with kExitUsage.
struct Exit {
    int status;
};

// The module file loaded when --module is not given: the one this build made,
// or failing that one beside the executable or in ../private/ from it.
std::filesystem::path defaultModulePath();

// Version, compiler and the kernels' instruction-set level here.
std::string versionText();

void registerCallCommand(CLI::App& app);
void registerTablesCommand(CLI::App& app);
void registerResizeCommand(CLI::App& app);
void registerDemoCommand(CLI::App& app);

}  // namespace axiswarp::cli

#endif  // AXISWARP_CLI_COMMANDS_HPP

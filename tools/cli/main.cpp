// axiswarp: the command-line face of the axisWarpKernel module.
#include "cli/commands.hpp"

#include "runtime/interrupt_cleanup.hpp"
#include "runtime/tool_error.hpp"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    using namespace axiswarp::cli;
    // Before any output file exists: an interrupted run removes what it had
    // not finished and ends with status 128 + the signal.
    axiswarp::tools::installInterruptCleanup();
    CLI::App app{"Resample images along one dimension with the axisWarpKernel module.",
                 "axiswarp"};
    app.require_subcommand(1);
    app.set_version_flag("--version", versionText(), "Print the version, the compiler and the kernels' "
                                                     "instruction-set level on this processor");
    app.footer(
        "Exit status: 0 on success, 1 when the module raises an error (printed as one line\n"
        "'IDENTIFIER: MESSAGE'), 2 for a bad command line, input file or output file,\n"
        "130 when interrupted (Ctrl-C) and 143 when terminated; finished outputs are then\n"
        "kept and unfinished ones leave nothing behind.\n"
        "\n"
        "Example:\n"
        "  axiswarp call examples/ramp_uint8.npy examples/weights.npy examples/indices.npy 1 "
        "-o out.npy\n"
        "Run 'axiswarp SUBCOMMAND --help' for the options of each subcommand.");

    registerCallCommand(app);
    registerTablesCommand(app);
    registerResizeCommand(app);
    registerDemoCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // A mistyped subcommand is otherwise reported only as a missing one.
        if (app.get_subcommands().empty() && !app.remaining().empty()) {
            std::cerr << "axiswarp: unknown subcommand '" << app.remaining().front()
                      << "'\nRun with --help for more information.\n";
            return kExitUsage;
        }
        // Help requests come through here too, with status 0.
        return app.exit(error) == 0 ? kExitOk : kExitUsage;
    } catch (const Exit& exit) {
        return exit.status;
    } catch (const std::exception& error) {
        std::cerr << "axiswarp: " << error.what() << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

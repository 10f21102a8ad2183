// A scratch folder for running the built `axiswarp` binary end to end.
//
// Each test gets root()/work as the tool's working folder, so that whatever
// the tool writes (or must not write) is all that folder holds; the tool's
// standard output and error are captured beside it, in root().
#ifndef AXISWARP_TESTS_CLI_SANDBOX_HPP
#define AXISWARP_TESTS_CLI_SANDBOX_HPP

#include <gtest/gtest.h>

#include "scratch_folder.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace axiswarp::testing {

struct RunResult {
    int status = -1;  // exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

inline std::string shellQuote(const std::string& text) {
    std::string quoted(1, '\'');
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    quoted += '\'';
    return quoted;
}

inline std::string readFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The shell words that start the built tool. A cross build runs its tests
// under a user-mode emulator, which does not follow the test's own exec of
// the tool: the tool is started through the same emulator
// (AXISWARP_TOOL_LAUNCHER, empty for a native build).
inline std::string toolCommand() {
    std::string command;
#if defined(AXISWARP_TOOL_LAUNCHER)
    command = AXISWARP_TOOL_LAUNCHER;
    if (!command.empty()) command += ' ';
#endif
    command += shellQuote(AXISWARP_CLI_PATH);
    return command;
}

class CliSandbox : public ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        root_ = folder();
        std::filesystem::create_directories(work());
    }

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path work() const { return root_ / "work"; }

    // Runs the tool in work() with these arguments. `prelude` is shell run
    // first in the same shell (a resource limit, say). A tool that blocks
    // fails the test after five minutes instead of hanging it.
    RunResult run(const std::vector<std::string>& args, const std::string& prelude = "") const {
        // Appended piece by piece: chains of + on temporaries trip a false
        // -Wrestrict warning in GCC 12.
        std::string command = "cd ";
        command += shellQuote(work().string());
        if (!prelude.empty()) {
            command += " && ";
            command += prelude;
        }
        command += " && exec timeout -k 5 300 ";
        command += toolCommand();
        for (const std::string& arg : args) {
            command += ' ';
            command += shellQuote(arg);
        }
        command += " >";
        command += shellQuote((root_ / "stdout").string());
        command += " 2>";
        command += shellQuote((root_ / "stderr").string());
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFileText(root_ / "stdout"),
                readFileText(root_ / "stderr")};
    }

private:
    std::filesystem::path root_;
};

}  // namespace axiswarp::testing

#endif  // AXISWARP_TESTS_CLI_SANDBOX_HPP

// Interrupting the built `axiswarp` binary while it makes an output: the
// echo module holds a chosen call until the signal comes, so the signal
// always arrives while an output file is open. Finished outputs must stay,
// unfinished ones and their temporaries must leave nothing, and the status
// must be 128 + the signal.
#include "imagefile/image_io.hpp"

#include "cli_sandbox.hpp"
#include "skip_without_threads.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using axiswarp::testing::shellQuote;

enum class Scheme { anonymous, named };

// The machine is shared and loaded: waits are generous and never asserted on.
constexpr auto kPatience = std::chrono::minutes(3);

std::set<std::string> entriesOf(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

axiswarp::tools::Image sample(std::uint32_t shade) {
    axiswarp::tools::Image image = axiswarp::tools::Image::blank(5, 4, 3, 8);
    for (std::uint32_t k = 0; k < 3; ++k)
        for (std::uint32_t j = 0; j < 5; ++j)
            for (std::uint32_t i = 0; i < 4; ++i) image.set(i, j, k, (shade + i * 30 + j * 9 + k * 50) % 256);
    return image;
}

class CliInterrupt : public axiswarp::testing::CliSandbox,
                     public ::testing::WithParamInterface<std::tuple<Scheme, int>> {
protected:
    Scheme scheme() const { return std::get<0>(GetParam()); }
    int signal() const { return std::get<1>(GetParam()); }
    fs::path mark() const { return root() / "held"; }

    void SetUp() override {
        CliSandbox::SetUp();
        if (scheme() == Scheme::named) return;
        const int probe = ::open(work().c_str(), O_TMPFILE | O_WRONLY, 0600);
        if (probe < 0) GTEST_SKIP() << "no O_TMPFILE in " << work();
        ::close(probe);
    }

    // Starts the tool in work() with the echo module holding calls from
    // `holdFrom` on. The shell execs the tool, so the pid is the tool's.
    void start(const std::vector<std::string>& args, int holdFrom) {
        // Appended piece by piece: chains of + on temporaries trip a false
        // -Wrestrict warning in GCC 12.
        std::string command = "cd ";
        command += shellQuote(work().string());
        command += " && exec ";
        command += axiswarp::testing::toolCommand();
        for (const std::string& arg : args) {
            command += ' ';
            command += shellQuote(arg);
        }
        command += " 2>";
        command += shellQuote((root() / "stderr").string());
        std::vector<std::string> variables;
        for (char** v = environ; *v != nullptr; ++v) {
            const std::string variable = *v;
            if (variable.rfind("AXISWARP_", 0) != 0) variables.push_back(variable);
        }
        variables.push_back("AXISWARP_ECHO_HOLD_FROM=" + std::to_string(holdFrom));
        variables.push_back("AXISWARP_ECHO_MARK=" + mark().string());
        if (scheme() == Scheme::named) variables.push_back("AXISWARP_ATOMIC_RENAME=1");
        std::vector<char*> envp;
        for (std::string& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};

        child_ = ::fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            // Only async-signal-safe calls until exec. A test run in the
            // background may have inherited SIGINT ignored, which the tool
            // would respect.
            for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execve(argv[0], const_cast<char* const*>(argv), envp.data());
            ::_exit(127);
        }
    }

    // Polls until `ready` holds; fails, and kills the tool, if it ends first.
    void waitUntil(const std::function<bool()>& ready, const char* what) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!ready()) {
            int status = 0;
            if (::waitpid(child_, &status, WNOHANG) == child_) {
                child_ = -1;
                FAIL() << "the tool ended (status " << status << ") before " << what << ": "
                       << axiswarp::testing::readFileText(root() / "stderr");
            }
            if (std::chrono::steady_clock::now() > deadline) FAIL() << "timed out waiting until " << what;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Sends the signal and checks how the tool ended.
    void interruptAndExpectStatus() {
        ASSERT_EQ(::kill(child_, signal()), 0);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        int status = 0;
        while (::waitpid(child_, &status, WNOHANG) != child_) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the tool did not end";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        child_ = -1;
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal());
        EXPECT_EQ(axiswarp::testing::readFileText(root() / "stderr"), "axiswarp: interrupted\n");
    }

    // While the output is being made: nothing new is visible with an
    // anonymous file, exactly one hidden temporary with a named one.
    void expectOnlyTemporaryBeside(const fs::path& folder, const std::set<std::string>& before,
                                   const std::string& output) {
        std::set<std::string> added;
        const std::set<std::string> now = entriesOf(folder);
        std::set_difference(now.begin(), now.end(), before.begin(), before.end(),
                            std::inserter(added, added.end()));
        if (scheme() == Scheme::anonymous) {
            EXPECT_TRUE(added.empty()) << *added.begin();
        } else {
            ASSERT_EQ(added.size(), 1u);
            std::string prefix(1, '.');
            prefix += output;
            prefix += ".tmp.";
            EXPECT_EQ(added.begin()->rfind(prefix, 0), 0u) << *added.begin();
        }
    }

    void TearDown() override {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        CliSandbox::TearDown();
    }

private:
    pid_t child_ = -1;
};

TEST_P(CliInterrupt, CallLeavesNoOutputAndKeepsAnOldOne) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool is started with fork()
    for (const bool existed : {false, true}) {
        SCOPED_TRACE(existed ? "out.npy existed" : "no out.npy before");
        fs::remove(mark());
        if (existed) std::ofstream(work() / "out.npy") << "previous";
        const std::set<std::string> before = entriesOf(work());
        start({"call", "--module", AXISWARP_ECHO_MODULE, "1", "-o", "out.npy"}, 1);
        waitUntil([&] { return fs::exists(mark()); }, "the module call began");
        expectOnlyTemporaryBeside(work(), before, "out.npy");
        interruptAndExpectStatus();
        EXPECT_EQ(entriesOf(work()), before);
        if (existed) {
            EXPECT_EQ(axiswarp::testing::readFileText(work() / "out.npy"), "previous");
        }
    }
}

TEST_P(CliInterrupt, BatchKeepsFinishedOutputsOnly) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool is started with fork()
    // With --jobs 1 and --scale 1 each image takes two module calls, one file
    // after the other, and the echo module's output has the shape the
    // pipeline expects: call 3 is the first of b.png's.
    for (const char* name : {"a", "b", "c"}) {
        axiswarp::tools::writeImage(work() / (std::string(name) + ".png"), sample(static_cast<std::uint32_t>(*name)));
    }
    fs::create_directory(work() / "o");
    start({"resize", "a.png", "b.png", "c.png", "--scale", "1", "--out-dir", "o", "--jobs", "1",
           "--module", AXISWARP_ECHO_MODULE},
          3);
    waitUntil([&] { return fs::exists(mark()); }, "the second file was begun");
    expectOnlyTemporaryBeside(work() / "o", {"a.png"}, "b.png");
    interruptAndExpectStatus();
    EXPECT_EQ(entriesOf(work() / "o"), std::set<std::string>{"a.png"});
    EXPECT_EQ(entriesOf(work()), (std::set<std::string>{"a.png", "b.png", "c.png", "o"}));
    const axiswarp::tools::Image finished = axiswarp::tools::readImage(work() / "o" / "a.png");
    const axiswarp::tools::Image original = axiswarp::tools::readImage(work() / "a.png");
    EXPECT_TRUE(std::ranges::equal(finished.samples8(), original.samples8()));
}

INSTANTIATE_TEST_SUITE_P(
    SchemesAndSignals, CliInterrupt,
    ::testing::Combine(::testing::Values(Scheme::anonymous, Scheme::named), ::testing::Values(SIGINT, SIGTERM)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == Scheme::anonymous ? "Anonymous" : "Named") +
               (std::get<1>(info.param) == SIGINT ? "Int" : "Term");
    });

}  // namespace

#include "runtime/atomic_file.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using axiswarp::tools::AtomicFile;
using axiswarp::tools::ToolError;

// Both schemes, chosen the way the tool's users can: the anonymous one where
// the folder supports it, the named one when AXISWARP_ATOMIC_RENAME=1.
enum class Scheme { anonymous, named };

class AtomicFileTest : public axiswarp::testing::ScratchFolder,
                       public ::testing::WithParamInterface<Scheme> {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        if (GetParam() == Scheme::named) {
            ::setenv("AXISWARP_ATOMIC_RENAME", "1", 1);
            return;
        }
        ::unsetenv("AXISWARP_ATOMIC_RENAME");
        const int probe = ::open(folder().c_str(), O_TMPFILE | O_WRONLY, 0600);
        if (probe < 0) GTEST_SKIP() << "no O_TMPFILE in " << folder();
        ::close(probe);
    }
    void TearDown() override {
        ::unsetenv("AXISWARP_ATOMIC_RENAME");
        ScratchFolder::TearDown();
    }

    std::string contents(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder())) names.insert(entry.path().filename());
        return names;
    }
    // What the folder holds while `file` is open: `before` and, for the
    // named scheme, its temporary.
    std::set<std::string> whileOpen(const AtomicFile& file, std::set<std::string> before) const {
        EXPECT_EQ(file.anonymous(), GetParam() == Scheme::anonymous);
        if (GetParam() == Scheme::named) before.insert(file.temporaryPath().filename());
        return before;
    }
};

TEST_P(AtomicFileTest, TargetAppearsWholeOnlyAtCommit) {
    for (const bool existed : {false, true}) {
        SCOPED_TRACE(existed ? "replacing a file" : "a new file");
        const fs::path target = folder() / "out.bin";
        fs::remove(target);
        if (existed) std::ofstream(target) << "old";
        const std::set<std::string> before = entries();
        {
            AtomicFile file(target);
            file.write("new ");
            file.write("contents");
            EXPECT_EQ(entries(), whileOpen(file, before));
            if (existed) {
                EXPECT_EQ(contents(target), "old");
            }
            file.commit();
        }
        EXPECT_EQ(contents(target), "new contents");
        EXPECT_EQ(entries(), std::set<std::string>{"out.bin"});
    }
}

TEST_P(AtomicFileTest, AbandonedWriteLeavesNothing) {
    const fs::path target = folder() / "out.bin";
    std::ofstream(target) << "old";
    {
        AtomicFile file(target);
        file.write("half");
        EXPECT_EQ(entries(), whileOpen(file, {"out.bin"}));
    }
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(entries(), std::set<std::string>{"out.bin"});
}

TEST_P(AtomicFileTest, NewFilesGetTheUmasksMode) {
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}, mode_t{0}}) {
        const mode_t previous = ::umask(mask);
        const fs::path target = folder() / ("mask" + std::to_string(mask));
        axiswarp::tools::writeFileAtomically(target, {});
        ::umask(previous);
        struct stat info {};
        ASSERT_EQ(::stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask) << "umask " << std::oct << mask;
    }
}

TEST_P(AtomicFileTest, UnusableTargetsAreNamedInTheError) {
    std::ofstream(folder() / "plain") << "x";
    struct Case {
        fs::path target;
        const char* expected;
    };
    for (const Case& c : {Case{folder() / "missing" / "out.bin", "does not exist"},
                          Case{folder() / "plain" / "out.bin", "is not a folder"},
                          Case{folder(), "is a folder"}}) {
        try {
            AtomicFile file(c.target);
            ADD_FAILURE() << "opened " << c.target;
        } catch (const ToolError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.target.string()), std::string::npos) << message;
            EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        }
    }
    EXPECT_EQ(entries(), std::set<std::string>{"plain"});
}

TEST_P(AtomicFileTest, FailedCommitLeavesNothing) {
    // The target turns into a folder while the file is being written, so
    // moving the file into place fails at the very last step.
    const fs::path target = folder() / "out.bin";
    AtomicFile file(target);
    file.write("data");
    fs::create_directory(target);
    try {
        file.commit();
        ADD_FAILURE() << "committed over a folder";
    } catch (const ToolError& error) {
        EXPECT_NE(std::string(error.what()).find(target.string()), std::string::npos) << error.what();
    }
    EXPECT_EQ(entries(), std::set<std::string>{"out.bin"});
    EXPECT_TRUE(fs::is_empty(target));
}

INSTANTIATE_TEST_SUITE_P(Schemes, AtomicFileTest, ::testing::Values(Scheme::anonymous, Scheme::named),
                         [](const auto& info) {
                             return info.param == Scheme::anonymous ? "Anonymous" : "Named";
                         });

}  // namespace

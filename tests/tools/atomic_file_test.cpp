#include "atomic_file.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using axiswarp::tools::AtomicFile;
using axiswarp::tools::ToolError;

class AtomicFileTest : public axiswarp::testing::ScratchFolder {
protected:
    std::string contents(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder()), {}));
    }
};

TEST_F(AtomicFileTest, TargetAppearsOnlyAtCommit) {
    const fs::path target = folder() / "out.bin";
    std::ofstream(target) << "old";
    {
        AtomicFile file(target);
        file.write("new contents");
        EXPECT_EQ(contents(target), "old");
        file.commit();
    }
    EXPECT_EQ(contents(target), "new contents");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, AbandonedWriteLeavesTargetAndNoTemporary) {
    const fs::path target = folder() / "out.bin";
    std::ofstream(target) << "old";
    {
        AtomicFile file(target);
        file.write("half");
        EXPECT_TRUE(fs::exists(file.temporaryPath()));
    }
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, UnusableTargetsAreNamedInTheError) {
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
    EXPECT_EQ(entries(), 1u);
}

}  // namespace

#include "atomic_file.hpp"

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

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("axiswarp_atomic_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string contents(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder_), {}));
    }
    fs::path folder_;
};

TEST_F(AtomicFileTest, TargetAppearsOnlyAtCommit) {
    const fs::path target = folder_ / "out.bin";
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
    const fs::path target = folder_ / "out.bin";
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
    std::ofstream(folder_ / "plain") << "x";
    struct Case {
        fs::path target;
        const char* expected;
    };
    for (const Case& c : {Case{folder_ / "missing" / "out.bin", "does not exist"},
                          Case{folder_ / "plain" / "out.bin", "is not a folder"},
                          Case{folder_, "is a folder"}}) {
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

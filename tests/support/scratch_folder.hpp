// A fresh, empty folder for each test that writes files, removed afterwards.
//
// Named after the process and the test, so that tests running in parallel
// (ctest -j, one process per test) never share one. Tests may take
// permissions away inside it; they are given back before removal.
#ifndef AXISWARP_TESTS_SCRATCH_FOLDER_HPP
#define AXISWARP_TESTS_SCRATCH_FOLDER_HPP

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace axiswarp::testing {

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';  // parameterised suites and tests
        }
        folder_ = std::filesystem::temp_directory_path() / ("axiswarp_" + std::to_string(::getpid()) + "_" + name);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }

    void TearDown() override {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ec);
        for (const auto& entry : fs::recursive_directory_iterator(folder_, ec)) {
            if (entry.is_directory(ec)) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(folder_, ec);
    }

    const std::filesystem::path& folder() const { return folder_; }

    // Writes `bytes` to folder()/name and gives the path.
    std::filesystem::path put(const std::string& name, const std::vector<std::byte>& bytes) const {
        const std::filesystem::path path = folder_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private:
    std::filesystem::path folder_;
};

}  // namespace axiswarp::testing

#endif  // AXISWARP_TESTS_SCRATCH_FOLDER_HPP

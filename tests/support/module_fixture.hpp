// A test fixture that loads the built module file as the host does and checks
// that every test leaves the host's bookkeeping where it found it.
#ifndef AXISWARP_TESTS_MODULE_FIXTURE_HPP
#define AXISWARP_TESTS_MODULE_FIXTURE_HPP

#include <zuhost/standin_host.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace axiswarp::testing {

inline const zuhost::Module& builtModule() {
    static const zuhost::Module module(AXISWARP_MODULE_PATH);
    return module;
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override { before_ = zuhost::liveCounts(); }
    void TearDown() override {
        EXPECT_EQ(zuhost::liveCounts(), before_) << "the call left arrays or scratch blocks behind";
    }
    const zuhost::Module& module() const { return builtModule(); }

private:
    zuhost::Counts before_;
};

}  // namespace axiswarp::testing

#endif  // AXISWARP_TESTS_MODULE_FIXTURE_HPP

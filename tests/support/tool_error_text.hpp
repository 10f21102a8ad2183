// The message a piece of tool code fails with, for tests that check wording.
#ifndef AXISWARP_TESTS_TOOL_ERROR_TEXT_HPP
#define AXISWARP_TESTS_TOOL_ERROR_TEXT_HPP

#include "runtime/tool_error.hpp"

#include <functional>
#include <string>

namespace axiswarp::testing {

// What `f` throws as a ToolError, or "no error" when it returns.
inline std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const tools::ToolError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace axiswarp::testing

#endif  // AXISWARP_TESTS_TOOL_ERROR_TEXT_HPP

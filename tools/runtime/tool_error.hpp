// The one exception type the tool library throws for bad input or failed
// output: its message already names the file and says what is wrong, so a
// command prints it as is.
#ifndef AXISWARP_TOOLS_TOOL_ERROR_HPP
#define AXISWARP_TOOLS_TOOL_ERROR_HPP

#include <stdexcept>
#include <string>

namespace axiswarp::tools {

class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file refused only for being larger than a limit the caller can raise;
// `kind` tells the caller which limit, so it can say how.
class LimitError : public ToolError {
public:
    // pixelsPerByte: an image announcing far more pixels than its file could
    // plausibly hold (codec_options.hpp), apart from imagePixels so that a
    // caller does not suggest raising the pixel limit for it.
    enum class Kind { imagePixels, imageFileBytes, npyDataBytes, pixelsPerByte };
    LimitError(Kind kind, const std::string& message) : ToolError(message), kind_(kind) {}
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_TOOL_ERROR_HPP

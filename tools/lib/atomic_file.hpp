// Output files that appear whole or not at all.
//
// The bytes go to a fresh temporary file in the target's own folder (so the
// final rename never crosses a file system), are flushed to disk, and the
// temporary is then renamed over the target. Until commit() succeeds the
// target is untouched; a failed or abandoned write removes the temporary.
#ifndef AXISWARP_TOOLS_ATOMIC_FILE_HPP
#define AXISWARP_TOOLS_ATOMIC_FILE_HPP

#include "tool_error.hpp"

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace axiswarp::tools {

class AtomicFile {
public:
    // Creates the temporary file. Throws ToolError naming the target when its
    // folder is missing or not writable.
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();  // removes the temporary unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(std::span<const std::byte> bytes);
    void write(std::string_view text);
    // Flushes to disk and renames over the target. Throws ToolError on failure,
    // after removing the temporary.
    void commit();

    const std::filesystem::path& target() const noexcept { return target_; }
    const std::filesystem::path& temporaryPath() const noexcept { return temporary_; }

private:
    [[noreturn]] void fail(const char* what, int error);
    void discard() noexcept;

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes the whole buffer to `target` through an AtomicFile.
void writeFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes);

// A key that two paths share exactly when they name the same file: the
// device and inode of an existing file (so hard and symbolic links and any
// spelling of the path are caught), otherwise the normalised absolute path.
// Compare the key of an output with those of the inputs before writing.
std::string fileIdentity(const std::filesystem::path& path);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_ATOMIC_FILE_HPP

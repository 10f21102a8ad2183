// Output files that appear whole or not at all, and leave nothing behind when
// a write fails or the tool is interrupted.
//
// Two schemes, both in the target's own folder (so that the final step never
// crosses a file system):
//
// - Anonymous (Linux, where the file system supports O_TMPFILE and /proc is
//   mounted): the bytes go to a file without a name. On commit it is flushed
//   to disk and linked into place through /proc/self/fd; if the target
//   already exists, it is linked under a unique temporary name instead and
//   renamed over the target. Until then nothing is visible in the folder, and
//   a process that dies for any reason, even SIGKILL, leaves nothing.
// - Named (elsewhere): the bytes go to a fresh ".NAME.tmp.PID.N" beside the
//   target, flushed and renamed over it on commit.
//
// Either way the target is untouched until commit() succeeds; a failed or
// abandoned write removes what it made. A temporary name, while it exists on
// disk, is registered with interrupt_cleanup.hpp, so that the tool's SIGINT
// and SIGTERM handler removes it (the file is opened for reading too, so
// that a writer can read back what it wrote). The final file gets mode 0666 less the
// umask, like any newly created file.
//
// Setting the environment variable AXISWARP_ATOMIC_RENAME=1 forces the named
// scheme, so that tests can exercise it where the anonymous one works.
#ifndef AXISWARP_TOOLS_ATOMIC_FILE_HPP
#define AXISWARP_TOOLS_ATOMIC_FILE_HPP

#include "runtime/tool_error.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace axiswarp::tools {

class AtomicFile {
public:
    // Creates the file to write. Throws ToolError naming the target when its
    // folder is missing or not writable.
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();  // removes what was written unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(std::span<const std::byte> bytes);
    void write(std::string_view text);
    // Positioned access for writers that go back to patch what they wrote
    // (TIFF offsets): writes at `offset` without moving the end that
    // write() appends at, and reads back up to bytes.size() bytes (how
    // many were read).
    void writeAt(std::uint64_t offset, std::span<const std::byte> bytes);
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> bytes);
    // Flushes to disk and moves the file into place. Throws ToolError on
    // failure, after removing what was written.
    void commit();

    const std::filesystem::path& target() const noexcept { return target_; }
    // True for the anonymous scheme, false for the named one.
    bool anonymous() const noexcept { return anonymous_; }
    // The named scheme's temporary file; empty for the anonymous scheme.
    std::filesystem::path temporaryPath() const;

private:
    bool openAnonymous();
    void openNamed();
    void linkIntoPlace();
    void renameIntoPlace();
    [[noreturn]] void fail(const char* what, int error);
    void removeTemporary() noexcept;
    void discard() noexcept;

    std::filesystem::path target_;
    std::string targetName_;     // the target's file name within its folder
    int folderFd_ = -1;          // the target's folder, for the *at calls
    int fd_ = -1;
    bool anonymous_ = false;
    std::string temporaryName_;  // a temporary name on disk, when there is one
    int slot_ = -1;              // its interrupt-cleanup slot
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

#include "runtime/atomic_file.hpp"

#include "runtime/interrupt_cleanup.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace axiswarp::tools {

namespace {

std::string describe(int error) {
    switch (error) {
        case ENOENT: return "the folder does not exist";
        case ENOTDIR: return "a component of the path is not a folder";
        case EACCES:
        case EPERM: return "permission denied";
        case EROFS: return "the file system is read-only";
        case ENOSPC: return "no space left on the device";
        case EISDIR: return "the target is a folder";
        default: return std::generic_category().message(error);
    }
}

std::filesystem::path folderOf(const std::filesystem::path& target) {
    std::filesystem::path folder = target.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// Unique within the process by the counter and across processes by the pid;
// O_EXCL settles any remaining collision with a stale file.
std::atomic<unsigned> gTemporaryCounter{0};

// A hidden name beside the target. A long target name is cut short so that
// the temporary's stays within the file-name limit.
std::string temporaryNameFor(const std::string& targetName) {
    constexpr std::size_t kKeptBytes = 200;
    std::string name(1, '.');
    name.append(targetName, 0, std::min(targetName.size(), kKeptBytes));
    name += ".tmp.";
    name += std::to_string(::getpid());
    name += '.';
    name += std::to_string(gTemporaryCounter.fetch_add(1));
    return name;
}

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The folder is only ever used as the base of *at calls.
#if defined(O_PATH)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
    if (target_.empty() || !target_.has_filename()) {
        throw ToolError("cannot write '" + target_.string() + "': not a file name");
    }
    const std::filesystem::path folder = folderOf(target_);
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) {
        throw ToolError("cannot write '" + target_.string() + "': the folder '" + folder.string() +
                        "' does not exist");
    }
    if (!std::filesystem::is_directory(folder, ec)) {
        throw ToolError("cannot write '" + target_.string() + "': '" + folder.string() +
                        "' is not a folder");
    }
    if (std::filesystem::is_directory(target_, ec)) {
        throw ToolError("cannot write '" + target_.string() + "': the target is a folder");
    }
    targetName_ = target_.filename().string();
    // Held open so that every later step names the same folder, even if the
    // path to it changes meanwhile, and so that the interrupt handler can
    // remove a temporary without building a path.
    folderFd_ = ::open(folder.c_str(), kFolderFlags);
    if (folderFd_ < 0) {
        throw ToolError("cannot write '" + target_.string() + "': " + describe(errno));
    }
    try {
        if (!openAnonymous()) openNamed();
    } catch (...) {
        discard();
        throw;
    }
}

AtomicFile::~AtomicFile() { discard(); }

std::filesystem::path AtomicFile::temporaryPath() const {
    if (temporaryName_.empty()) return {};
    return folderOf(target_) / temporaryName_;
}

bool AtomicFile::openAnonymous() {
#if defined(O_TMPFILE)
    const char* force = std::getenv("AXISWARP_ATOMIC_RENAME");
    if (force != nullptr && std::string_view(force) == "1") return false;
    // Mode 0666 lets the umask decide, as for any newly created file. Any
    // failure means the named scheme: O_TMPFILE unknown to the kernel (EISDIR,
    // EINVAL) or the file system (EOPNOTSUPP), and real problems such as a
    // read-only folder, which the named scheme then reports in its own words.
    const int fd = ::openat(folderFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // Linking the file into place goes through /proc, which a chroot or a
    // minimal container may lack: find out now, while nothing is written.
    if (::access(procPath(fd).c_str(), F_OK) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    anonymous_ = true;
    return true;
#else
    return false;
#endif
}

void AtomicFile::openNamed() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryNameFor(targetName_);
        CreationWindow window;
        const int slot = registerTemporary(folderFd_, name);
        fd_ = ::openat(folderFd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporaryName_ = name;
            slot_ = slot;
            return;
        }
        const int error = errno;
        // A stale file of a dead process that had this pid; it is not ours to
        // remove, but the handler might have, had it run just now.
        if (!forgetTemporary(slot)) folderFd_ = -1;
        if (error != EEXIST) {
            throw ToolError("cannot write '" + target_.string() + "': " + describe(error));
        }
    }
    throw ToolError("cannot write '" + target_.string() + "': no free temporary name in its folder");
}

void AtomicFile::removeTemporary() noexcept {
    if (temporaryName_.empty()) return;
    // Removed before the slot is released: an interrupt in between finds the
    // name already gone, never a file it does not know of.
    ::unlinkat(folderFd_, temporaryName_.c_str(), 0);
    // When the handler has taken the slot it is using the folder descriptor
    // until the process ends, so that is left open.
    if (!forgetTemporary(slot_)) folderFd_ = -1;
    slot_ = -1;
    temporaryName_.clear();
}

void AtomicFile::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    removeTemporary();
    if (folderFd_ >= 0) {
        ::close(folderFd_);
        folderFd_ = -1;
    }
}

void AtomicFile::fail(const char* what, int error) {
    discard();
    throw ToolError("cannot write '" + target_.string() + "': " + what + ": " + describe(error));
}

void AtomicFile::write(std::span<const std::byte> bytes) {
    if (fd_ < 0) throw ToolError("cannot write '" + target_.string() + "': file already closed");
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("write failed", errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void AtomicFile::writeAt(std::uint64_t offset, std::span<const std::byte> bytes) {
    if (fd_ < 0) throw ToolError("cannot write '" + target_.string() + "': file already closed");
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(fd_, data + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("write failed", errno);
        }
        done += static_cast<std::size_t>(written);
    }
}

std::size_t AtomicFile::readAt(std::uint64_t offset, std::span<std::byte> bytes) {
    if (fd_ < 0) throw ToolError("cannot read back '" + target_.string() + "': file already closed");
    auto* data = reinterpret_cast<char*>(bytes.data());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd_, data + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("reading back failed", errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void AtomicFile::write(std::string_view text) {
    write(std::as_bytes(std::span<const char>(text.data(), text.size())));
}

void AtomicFile::renameIntoPlace() {
    if (::renameat(folderFd_, temporaryName_.c_str(), folderFd_, targetName_.c_str()) != 0) {
        fail("renaming into place failed", errno);
    }
    // Renamed before the slot is released, as in removeTemporary().
    if (!forgetTemporary(slot_)) folderFd_ = -1;
    slot_ = -1;
    temporaryName_.clear();
}

void AtomicFile::linkIntoPlace() {
    const std::string source = procPath(fd_);
    // Where the target does not exist yet, linking is the whole commit: the
    // complete file appears under its name in one step.
    if (::linkat(AT_FDCWD, source.c_str(), folderFd_, targetName_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return;
    }
    if (errno != EEXIST) fail("linking into place failed", errno);
    // A link cannot replace a file; a rename can. The temporary name exists
    // only between these two calls.
    for (int attempt = 0; temporaryName_.empty(); ++attempt) {
        if (attempt == 100) {
            discard();
            throw ToolError("cannot write '" + target_.string() +
                            "': no free temporary name in its folder");
        }
        const std::string name = temporaryNameFor(targetName_);
        CreationWindow window;
        const int slot = registerTemporary(folderFd_, name);
        if (::linkat(AT_FDCWD, source.c_str(), folderFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporaryName_ = name;
            slot_ = slot;
            break;
        }
        const int error = errno;
        if (!forgetTemporary(slot)) folderFd_ = -1;
        if (error != EEXIST) fail("linking into place failed", error);
    }
    renameIntoPlace();
}

void AtomicFile::commit() {
    if (fd_ < 0) throw ToolError("cannot write '" + target_.string() + "': file already closed");
    if (::fsync(fd_) != 0) fail("flushing to disk failed", errno);
    if (anonymous_) {
        linkIntoPlace();
        // Flushed and linked: a failure to close changes nothing on disk.
        ::close(fd_);
        fd_ = -1;
    } else {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail("closing failed", errno);
        renameIntoPlace();
    }
    // Make the new name itself durable; a failure here leaves a complete file
    // either way, so it is not reported.
    if (folderFd_ >= 0) {
        const int folder = ::openat(folderFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }
    discard();
}

void writeFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes) {
    AtomicFile file(target);
    file.write(bytes);
    file.commit();
}

std::string fileIdentity(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return "inode " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    const std::filesystem::path absolute = ec ? std::filesystem::absolute(path, ec) : canonical;
    return "path " + absolute.lexically_normal().string();
}

}  // namespace axiswarp::tools

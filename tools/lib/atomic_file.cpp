#include "atomic_file.hpp"

#include <atomic>
#include <cerrno>
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
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name(1, '.');
        name += target_.filename().string();
        name += ".tmp.";
        name += std::to_string(::getpid());
        name += '.';
        name += std::to_string(gTemporaryCounter.fetch_add(1));
        temporary_ = folder / name;
        // Mode 0666 lets the umask decide, as for any newly created file.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return;
        if (errno != EEXIST) {
            const int error = errno;
            temporary_.clear();
            throw ToolError("cannot write '" + target_.string() + "': " + describe(error));
        }
    }
    temporary_.clear();
    throw ToolError("cannot write '" + target_.string() + "': no free temporary name in its folder");
}

AtomicFile::~AtomicFile() {
    if (!committed_) discard();
}

void AtomicFile::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
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

void AtomicFile::write(std::string_view text) {
    write(std::as_bytes(std::span<const char>(text.data(), text.size())));
}

void AtomicFile::commit() {
    if (fd_ < 0) throw ToolError("cannot write '" + target_.string() + "': file already closed");
    if (::fsync(fd_) != 0) fail("flushing to disk failed", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("closing failed", errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail("renaming into place failed", errno);
    temporary_.clear();
    committed_ = true;
    // Make the rename itself durable; a failure here leaves a complete file
    // either way, so it is not reported.
    const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
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

#include "imagefile/byte_source.hpp"

#include "imagefile/codec_support.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace axiswarp::tools {

std::unique_ptr<ByteSource> ByteSource::overBytes(std::span<const std::byte> bytes, std::string name) {
    std::unique_ptr<ByteSource> source(new ByteSource);
    source->name_ = std::move(name);
    source->memory_ = bytes;
    source->size_ = bytes.size();
    return source;
}

std::unique_ptr<ByteSource> ByteSource::open(const ImageInput& input, const ImageReadOptions& options) {
    const std::string name = input.name.empty() ? input.path.string() : input.name;
    if (!input.bytes.empty() || input.path.empty()) {
        if (input.bytes.size() > options.maxFileBytes)
            throw LimitError(LimitError::Kind::imageFileBytes,
                             name + ": the file has " + std::to_string(input.bytes.size()) +
                                 " bytes, more than the limit of " + std::to_string(options.maxFileBytes));
        return overBytes(input.bytes, name);
    }
    // Checked before opening: opening a FIFO would wait for a writer, and a
    // device has no size to check.
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(input.path, ec);
    if (std::filesystem::is_directory(status)) failCodec(name, "is a folder, not an image file");
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        failCodec(name, "is not a regular file");
    std::unique_ptr<ByteSource> source(new ByteSource);
    source->name_ = name;
    source->fd_ = ::open(input.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (source->fd_ < 0) failCodec(name, "cannot open: " + std::generic_category().message(errno));
    struct stat st {};
    if (::fstat(source->fd_, &st) != 0) failCodec(name, "cannot read its size: " + std::generic_category().message(errno));
    // The path may have been replaced between the two checks.
    if (!S_ISREG(st.st_mode)) failCodec(name, "is not a regular file");
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > options.maxFileBytes)
        throw LimitError(LimitError::Kind::imageFileBytes,
                         name + ": the file has " + std::to_string(size) + " bytes, more than the limit of " +
                             std::to_string(options.maxFileBytes));
    source->size_ = size;
    // The whole file is read front to back, mostly once.
    ::posix_fadvise(source->fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return source;
}

ByteSource::~ByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t ByteSource::readAt(std::uint64_t offset, std::span<std::byte> bytes) noexcept {
    if (offset >= size_ || bytes.empty()) return 0;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), size_ - offset));
    if (fd_ < 0) {
        std::memcpy(bytes.data(), memory_.data() + offset, wanted);
        bytesRead_ += wanted;
        return wanted;
    }
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t got = ::pread(fd_, bytes.data() + done, wanted - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            break;
        }
        if (got == 0) break;  // the file shrank while being read
        done += static_cast<std::size_t>(got);
    }
    bytesRead_ += done;
    return done;
}

std::size_t ByteSource::read(std::span<std::byte> bytes) noexcept {
    const std::size_t got = readAt(position_, bytes);
    position_ += got;
    return got;
}

std::string ByteSource::errorText() const {
    return error_ != 0 ? " (read error: " + std::generic_category().message(error_) + ")" : std::string();
}

}  // namespace axiswarp::tools

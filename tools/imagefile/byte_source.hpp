// The bytes of an input file, read a piece at a time.
//
// A file on disk is read through its descriptor with pread, never copied
// whole and never mapped (a mapping would count every page touched in the
// process's resident size); bytes already in memory (fuzzers, tests) are
// read in place. The codec libraries pull what they need through this, so
// the memory an input costs is their own buffers, not the file's size.
//
// Reads never throw: they are called from the codec libraries' C callbacks.
// A failed read returns fewer bytes than asked and leaves error() set.
#ifndef AXISWARP_TOOLS_BYTE_SOURCE_HPP
#define AXISWARP_TOOLS_BYTE_SOURCE_HPP

#include "imagefile/codec_options.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace axiswarp::tools {

class ByteSource {
public:
    // Opens `input`: its bytes when it has some, otherwise its path, which
    // must be a regular file of at most options.maxFileBytes bytes
    // (LimitError beyond). Throws ToolError naming the input otherwise.
    static std::unique_ptr<ByteSource> open(const ImageInput& input, const ImageReadOptions& options);
    // Over bytes that outlive the source.
    static std::unique_ptr<ByteSource> overBytes(std::span<const std::byte> bytes, std::string name);

    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    const std::string& name() const noexcept { return name_; }
    std::uint64_t size() const noexcept { return size_; }
    // The bytes in memory, when the input is held there; empty for a file.
    std::span<const std::byte> memory() const noexcept { return memory_; }

    // Up to bytes.size() bytes from `offset`; how many were read (fewer
    // only at the end of the file or on a read error).
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> bytes) noexcept;
    // The same at the current position, which moves past them.
    std::size_t read(std::span<std::byte> bytes) noexcept;
    void seek(std::uint64_t offset) noexcept { position_ = offset; }
    std::uint64_t tell() const noexcept { return position_; }
    // How many bytes were read in all: tests check that a reader does not
    // read what it does not need.
    std::uint64_t bytesRead() const noexcept { return bytesRead_; }
    // errno of a failed read, 0 when none failed.
    int error() const noexcept { return error_; }
    // " (read error: ...)" after a failed read, else empty: the end of a
    // message about data that stopped early.
    std::string errorText() const;

private:
    ByteSource() = default;

    std::string name_;
    std::span<const std::byte> memory_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t bytesRead_ = 0;
    int error_ = 0;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_BYTE_SOURCE_HPP

// Where encoded bytes go: a buffer in memory or a file being written.
#ifndef AXISWARP_TOOLS_BYTE_OUTPUTS_HPP
#define AXISWARP_TOOLS_BYTE_OUTPUTS_HPP

#include "imagefile/image_stream.hpp"
#include "runtime/atomic_file.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace axiswarp::tools {

// Into a growing vector; a seek past the end and a write there leave zeros
// between.
class VectorOutput final : public ByteOutput {
public:
    void write(std::span<const std::byte> bytes) override;
    void seek(std::uint64_t offset) override { position_ = offset; }
    std::uint64_t tell() const override { return position_; }
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> bytes) override;

    std::vector<std::byte>& bytes() noexcept { return bytes_; }

private:
    std::vector<std::byte> bytes_;
    std::uint64_t position_ = 0;
};

// Into an AtomicFile, which the caller commits after the writer finished.
// Bytes written at the end are gathered into blocks of 256 KiB, as the
// codecs hand over small pieces (a chunk header, a length) between large
// ones.
class AtomicFileOutput final : public ByteOutput {
public:
    explicit AtomicFileOutput(AtomicFile& file) : file_(file) {}
    void write(std::span<const std::byte> bytes) override;
    void seek(std::uint64_t offset) override;
    std::uint64_t tell() const override { return position_; }
    std::uint64_t size() const override;
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> bytes) override;
    // Writes what is still gathered; before the file is committed.
    void flush();

private:
    AtomicFile& file_;
    std::vector<std::byte> pending_;  // the bytes from written_ on, not yet in the file
    std::uint64_t written_ = 0;       // bytes in the file
    std::uint64_t position_ = 0;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_BYTE_OUTPUTS_HPP

// A ByteOutput into a byte vector, for writing files in memory in tests.
#ifndef AXISWARP_TESTS_MEMORY_OUTPUT_HPP
#define AXISWARP_TESTS_MEMORY_OUTPUT_HPP

#include "imagefile/image_stream.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace axiswarp::tools {

class MemoryOutput final : public ByteOutput {
public:
    void write(std::span<const std::byte> bytes) override {
        if (position_ + bytes.size() > data_.size()) data_.resize(position_ + bytes.size());
        std::copy(bytes.begin(), bytes.end(), data_.begin() + static_cast<std::ptrdiff_t>(position_));
        position_ += bytes.size();
    }
    void seek(std::uint64_t offset) override {
        if (offset > data_.size()) throw std::out_of_range("seek past the end");
        position_ = static_cast<std::size_t>(offset);
    }
    std::uint64_t tell() const override { return position_; }
    std::uint64_t size() const override { return data_.size(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> bytes) override {
        if (offset >= data_.size()) return 0;
        const std::size_t n = std::min<std::size_t>(bytes.size(), data_.size() - static_cast<std::size_t>(offset));
        std::memcpy(bytes.data(), data_.data() + offset, n);
        return n;
    }
    const std::vector<std::byte>& bytes() const noexcept { return data_; }

private:
    std::vector<std::byte> data_;
    std::size_t position_ = 0;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TESTS_MEMORY_OUTPUT_HPP

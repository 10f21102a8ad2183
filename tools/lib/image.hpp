// An image as the module sees it: an M-by-N-by-C host array of uint8 or
// uint16 samples (M = height, N = width, C = channels: 1 gray, 2 gray+alpha,
// 3 RGB, 4 RGBA), column-major as the host stores arrays: sample (i, j, c),
// counted from zero, is at i + j*M + c*M*N.
//
// The image owns that host array, so the decoders write straight into the
// memory the first module call reads, and the last call's output becomes the
// image the encoders read: no copy on the way in or out. A gray image's array
// has the two extents (M, N), as the host drops a trailing 1.
#ifndef AXISWARP_TOOLS_IMAGE_HPP
#define AXISWARP_TOOLS_IMAGE_HPP

#include <zuhost/standin_host.hpp>

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace axiswarp::tools {

class Image {
public:
    // An image of no pixels and no array; only assignable.
    Image() = default;
    // Copies are deep (a new host array); moves hand the array over.
    Image(const Image& other) : Image(other.clone()) {}
    Image& operator=(const Image& other) {
        if (this != &other) *this = other.clone();
        return *this;
    }
    Image(Image&&) noexcept = default;
    Image& operator=(Image&&) noexcept = default;

    // Samples not initialised (the decoders write every one). Throws
    // ToolError for a zero extent, channels outside 1..4 or a depth other
    // than 8 and 16, zuhost::HostError when the host has no memory for it.
    static Image allocate(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                          int bitDepth);
    // The same, every sample 0.
    static Image blank(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                       int bitDepth);
    // Takes over a uint8 or uint16 host array of extents (M, N) or (M, N, C),
    // C from 1 to 4, not complex. Throws ToolError for any other array.
    static Image adopt(zuhost::ArrayPtr array);

    std::uint32_t width = 0;     // N, columns
    std::uint32_t height = 0;    // M, rows
    std::uint32_t channels = 0;  // C, 1 to 4

    int bitDepth() const noexcept { return bitDepth_; }
    bool empty() const noexcept { return array_ == nullptr; }
    std::uint64_t sampleCount() const noexcept {
        return std::uint64_t{height} * width * channels;
    }
    std::size_t offset(std::uint32_t row, std::uint32_t col, std::uint32_t channel) const noexcept {
        return row + std::size_t{col} * height + std::size_t{channel} * height * width;
    }

    // The host array; valid while the image lives.
    const zuArray& hostArray() const noexcept { return *array_; }
    // Gives the array up; the image is empty afterwards.
    zuhost::ArrayPtr release() noexcept;

    // The samples in the layout above. Each throws ToolError when the image
    // has the other depth.
    std::span<std::uint8_t> samples8();
    std::span<const std::uint8_t> samples8() const;
    std::span<std::uint16_t> samples16();
    std::span<const std::uint16_t> samples16() const;
    // Calls f with the samples as a span of the image's own type.
    template <class F>
    decltype(auto) visitSamples(F&& f) {
        if (bitDepth_ == 8) return f(samples8());
        return f(samples16());
    }
    template <class F>
    decltype(auto) visitSamples(F&& f) const {
        if (bitDepth_ == 8) return f(samples8());
        return f(samples16());
    }

    // Checked access to one sample; set saturates to the depth's maximum.
    std::uint32_t at(std::uint32_t row, std::uint32_t col, std::uint32_t channel) const;
    void set(std::uint32_t row, std::uint32_t col, std::uint32_t channel, std::uint32_t value);

    // A deep copy, as the copy constructor makes.
    Image clone() const;
    // Same extents, depth and samples.
    bool operator==(const Image& other) const;

private:
    int bitDepth_ = 8;
    zuhost::ArrayPtr array_;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_IMAGE_HPP

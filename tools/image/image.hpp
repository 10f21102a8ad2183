// An image as the module sees it: an M-by-N-by-C host array (M = height,
// N = width, C = channels: 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA), column-major
// as the host stores arrays: sample (i, j, c), counted from zero, is at
// i + j*M + c*M*N.
//
// Samples are of one of eight types, the ones image files store: unsigned and
// signed integers of 8, 16 and 32 bits, and 32- and 64-bit floats. Each is a
// class of the module (uint8 ... int32, single, double), so an image is
// resampled in its own type.
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
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace axiswarp::tools {

enum class SampleType { uint8, uint16, uint32, int8, int16, int32, float32, float64 };

// The module class holding the samples, and back (nullopt for any other).
zuClassID classOf(SampleType type) noexcept;
std::optional<SampleType> sampleTypeOf(zuClassID classID) noexcept;
// "uint8" ... "int32", "float32", "float64", as NumPy names them.
std::string_view sampleTypeName(SampleType type) noexcept;
// Bits per sample: 8, 16, 32 or 64.
int bitsOf(SampleType type) noexcept;
bool isFloat(SampleType type) noexcept;
bool isSigned(SampleType type) noexcept;  // the signed integers and the floats
// The largest value of an integer type; 1.0, the nominal white, for floats.
double nominalMax(SampleType type) noexcept;

// Calls f(T{}) with a value of the C++ type of `type`.
template <class F>
decltype(auto) withSampleType(SampleType type, F&& f) {
    switch (type) {
        case SampleType::uint8: return f(std::uint8_t{});
        case SampleType::uint16: return f(std::uint16_t{});
        case SampleType::uint32: return f(std::uint32_t{});
        case SampleType::int8: return f(std::int8_t{});
        case SampleType::int16: return f(std::int16_t{});
        case SampleType::int32: return f(std::int32_t{});
        case SampleType::float32: return f(float{});
        case SampleType::float64: break;
    }
    return f(double{});
}

// The SampleType of a C++ type.
template <class T> constexpr SampleType sampleTypeFor();
template <> constexpr SampleType sampleTypeFor<std::uint8_t>() { return SampleType::uint8; }
template <> constexpr SampleType sampleTypeFor<std::uint16_t>() { return SampleType::uint16; }
template <> constexpr SampleType sampleTypeFor<std::uint32_t>() { return SampleType::uint32; }
template <> constexpr SampleType sampleTypeFor<std::int8_t>() { return SampleType::int8; }
template <> constexpr SampleType sampleTypeFor<std::int16_t>() { return SampleType::int16; }
template <> constexpr SampleType sampleTypeFor<std::int32_t>() { return SampleType::int32; }
template <> constexpr SampleType sampleTypeFor<float>() { return SampleType::float32; }
template <> constexpr SampleType sampleTypeFor<double>() { return SampleType::float64; }

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
    // ToolError for a zero extent or channels outside 1..4,
    // zuhost::HostError when the host has no memory for it.
    static Image allocate(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                          SampleType type);
    // The unsigned 8- or 16-bit type of `bitDepth`; ToolError for any other.
    static Image allocate(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                          int bitDepth);
    // The same, every sample 0.
    static Image blank(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                       SampleType type);
    static Image blank(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                       int bitDepth);
    // Takes over a real host array of one of the eight classes with extents
    // (M, N) or (M, N, C), C from 1 to 4. Throws ToolError for any other.
    static Image adopt(zuhost::ArrayPtr array);

    std::uint32_t width = 0;     // N, columns
    std::uint32_t height = 0;    // M, rows
    std::uint32_t channels = 0;  // C, 1 to 4

    SampleType sampleType() const noexcept { return type_; }
    int bitDepth() const noexcept { return bitsOf(type_); }
    bool empty() const noexcept { return array_ == nullptr; }
    std::uint64_t sampleCount() const noexcept {
        return std::uint64_t{height} * width * channels;
    }
    std::size_t byteCount() const noexcept {
        return static_cast<std::size_t>(sampleCount()) * static_cast<std::size_t>(bitDepth() / 8);
    }
    std::size_t offset(std::uint32_t row, std::uint32_t col, std::uint32_t channel) const noexcept {
        return row + std::size_t{col} * height + std::size_t{channel} * height * width;
    }

    // The host array; valid while the image lives.
    const zuArray& hostArray() const noexcept { return *array_; }
    // Gives the array up; the image is empty afterwards.
    zuhost::ArrayPtr release() noexcept;

    // The samples in the layout above, as T; ToolError when the image holds
    // another type.
    template <class T>
    std::span<T> samples() {
        checkType(sampleTypeFor<T>());
        return {static_cast<T*>(array_->realData), static_cast<std::size_t>(sampleCount())};
    }
    template <class T>
    std::span<const T> samples() const {
        checkType(sampleTypeFor<T>());
        return {static_cast<const T*>(array_->realData), static_cast<std::size_t>(sampleCount())};
    }
    std::span<std::uint8_t> samples8() { return samples<std::uint8_t>(); }
    std::span<const std::uint8_t> samples8() const { return samples<std::uint8_t>(); }
    std::span<std::uint16_t> samples16() { return samples<std::uint16_t>(); }
    std::span<const std::uint16_t> samples16() const { return samples<std::uint16_t>(); }
    // The raw bytes of the samples, byteCount() of them.
    std::span<std::byte> bytes();
    std::span<const std::byte> bytes() const;

    // Calls f with the samples as a span of the image's own type.
    template <class F>
    decltype(auto) visitSamples(F&& f) {
        return withSampleType(type_, [&](auto zero) -> decltype(auto) {
            return f(samples<decltype(zero)>());
        });
    }
    template <class F>
    decltype(auto) visitSamples(F&& f) const {
        return withSampleType(type_, [&](auto zero) -> decltype(auto) {
            return f(samples<decltype(zero)>());
        });
    }

    // Checked access to one sample. set converts as the module stores a
    // sum: integers round half away from zero and saturate; floats round to
    // the type.
    double at(std::uint32_t row, std::uint32_t col, std::uint32_t channel) const;
    void set(std::uint32_t row, std::uint32_t col, std::uint32_t channel, double value);

    // A deep copy, as the copy constructor makes.
    Image clone() const;
    // Same extents, type and sample bits.
    bool operator==(const Image& other) const;

private:
    void checkType(SampleType wanted) const;

    SampleType type_ = SampleType::uint8;
    zuhost::ArrayPtr array_;
};

// The module's rounding of a double into an integer type T: add one half
// (minus one half below zero for signed types) and truncate, saturating at
// the type's limits; NaN gives 0. For float and double, the nearest value.
template <class T>
T storeSample(double value) noexcept {
    if constexpr (std::is_same_v<T, double>) {
        return value;
    } else if constexpr (std::is_same_v<T, float>) {
        // Beyond the float range a conversion is undefined in C++; IEEE
        // rounding gives the largest float up to half an ulp past it (2^103),
        // an infinity from there (the tie goes to the even infinity).
        constexpr double top = std::numeric_limits<float>::max();
        constexpr double overflow = top + 0x1p103;
        if (value >= overflow) return std::numeric_limits<float>::infinity();
        if (value <= -overflow) return -std::numeric_limits<float>::infinity();
        if (value > top) return std::numeric_limits<float>::max();
        if (value < -top) return std::numeric_limits<float>::lowest();
        return static_cast<float>(value);
    } else {
        constexpr double lowest = static_cast<double>(std::numeric_limits<T>::lowest());
        constexpr double top = static_cast<double>(std::numeric_limits<T>::max());
        if (value != value) return T{0};
        if (!std::is_signed_v<T> || value >= 0.0) {
            const double v = value + 0.5;
            if (v >= top + 1.0) return std::numeric_limits<T>::max();
            if (!(v >= 1.0)) return T{0};
            return static_cast<T>(v);
        }
        const double v = value - 0.5;
        if (v <= lowest - 1.0) return std::numeric_limits<T>::lowest();
        return static_cast<T>(v);
    }
}

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_IMAGE_HPP

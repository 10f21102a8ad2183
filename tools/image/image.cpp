#include "image/image.hpp"

#include "runtime/tool_error.hpp"

#include <cstring>
#include <limits>
#include <string>

namespace axiswarp::tools {

zuClassID classOf(SampleType type) noexcept {
    switch (type) {
        case SampleType::uint8: return zuUint8Class;
        case SampleType::uint16: return zuUint16Class;
        case SampleType::uint32: return zuUint32Class;
        case SampleType::int8: return zuInt8Class;
        case SampleType::int16: return zuInt16Class;
        case SampleType::int32: return zuInt32Class;
        case SampleType::float32: return zuSingleClass;
        case SampleType::float64: break;
    }
    return zuDoubleClass;
}

std::optional<SampleType> sampleTypeOf(zuClassID classID) noexcept {
    switch (classID) {
        case zuUint8Class: return SampleType::uint8;
        case zuUint16Class: return SampleType::uint16;
        case zuUint32Class: return SampleType::uint32;
        case zuInt8Class: return SampleType::int8;
        case zuInt16Class: return SampleType::int16;
        case zuInt32Class: return SampleType::int32;
        case zuSingleClass: return SampleType::float32;
        case zuDoubleClass: return SampleType::float64;
        default: return std::nullopt;
    }
}

std::string_view sampleTypeName(SampleType type) noexcept {
    switch (type) {
        case SampleType::uint8: return "uint8";
        case SampleType::uint16: return "uint16";
        case SampleType::uint32: return "uint32";
        case SampleType::int8: return "int8";
        case SampleType::int16: return "int16";
        case SampleType::int32: return "int32";
        case SampleType::float32: return "float32";
        case SampleType::float64: break;
    }
    return "float64";
}

int bitsOf(SampleType type) noexcept {
    return withSampleType(type, [](auto zero) { return static_cast<int>(8 * sizeof zero); });
}

bool isFloat(SampleType type) noexcept {
    return type == SampleType::float32 || type == SampleType::float64;
}

bool isSigned(SampleType type) noexcept {
    return withSampleType(type, [](auto zero) { return std::is_signed_v<decltype(zero)>; });
}

double nominalMax(SampleType type) noexcept {
    return withSampleType(type, [](auto zero) {
        using T = decltype(zero);
        if constexpr (std::is_floating_point_v<T>) return 1.0;
        else return static_cast<double>(std::numeric_limits<T>::max());
    });
}

namespace {

SampleType unsignedOfDepth(int bitDepth) {
    if (bitDepth == 8) return SampleType::uint8;
    if (bitDepth == 16) return SampleType::uint16;
    throw ToolError("an image of unsigned integers has 8 or 16 bits per sample here, not " +
                    std::to_string(bitDepth));
}

void checkShape(std::uint32_t width, std::uint32_t height, std::uint32_t channels, SampleType type) {
    if (width == 0 || height == 0) throw ToolError("an image needs a non-zero width and height");
    if (channels < 1 || channels > 4)
        throw ToolError("an image has 1 to 4 channels, not " + std::to_string(channels));
    const std::uint64_t bytes = static_cast<std::uint64_t>(bitsOf(type) / 8);
    if (std::uint64_t{width} * height * channels > std::numeric_limits<std::size_t>::max() / bytes)
        throw ToolError("the image is too large to hold in memory");
}

}  // namespace

Image Image::allocate(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                      SampleType type) {
    checkShape(width, height, channels, type);
    const std::uint64_t dims[3] = {height, width, channels};
    Image image;
    image.array_ = zuhost::createArray(classOf(type), dims);
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.type_ = type;
    return image;
}

Image Image::allocate(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                      int bitDepth) {
    return allocate(width, height, channels, unsignedOfDepth(bitDepth));
}

Image Image::blank(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                   SampleType type) {
    Image image = allocate(width, height, channels, type);
    // All-zero bytes are 0 (and +0.0) in every type.
    std::memset(image.array_->realData, 0, image.byteCount());
    return image;
}

Image Image::blank(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                   int bitDepth) {
    return blank(width, height, channels, unsignedOfDepth(bitDepth));
}

Image Image::adopt(zuhost::ArrayPtr array) {
    if (array == nullptr) throw ToolError("no array to make an image of");
    const zuClassID id = array->classID();
    const std::optional<SampleType> type = sampleTypeOf(id);
    const std::vector<std::uint64_t> dims = zuhost::extents(*array);
    const std::uint64_t channels = dims.size() == 3 ? dims[2] : 1;
    if (!type || array->isComplex() || dims.size() > 3 || dims[0] == 0 || dims[1] == 0 ||
        dims[0] > std::numeric_limits<std::uint32_t>::max() ||
        dims[1] > std::numeric_limits<std::uint32_t>::max() || channels < 1 || channels > 4)
        throw ToolError(std::string("a ") + zuhost::className(id) +
                        " array of this shape is not an image");
    Image image;
    image.height = static_cast<std::uint32_t>(dims[0]);
    image.width = static_cast<std::uint32_t>(dims[1]);
    image.channels = static_cast<std::uint32_t>(channels);
    image.type_ = *type;
    image.array_ = std::move(array);
    return image;
}

zuhost::ArrayPtr Image::release() noexcept {
    width = height = channels = 0;
    return std::move(array_);
}

void Image::checkType(SampleType wanted) const {
    if (array_ == nullptr) throw ToolError("the image holds no samples");
    if (wanted != type_)
        throw ToolError("the image holds " + std::string(sampleTypeName(type_)) + " samples, not " +
                        std::string(sampleTypeName(wanted)));
}

std::span<std::byte> Image::bytes() {
    if (array_ == nullptr) throw ToolError("the image holds no samples");
    return {static_cast<std::byte*>(array_->realData), byteCount()};
}

std::span<const std::byte> Image::bytes() const { return const_cast<Image*>(this)->bytes(); }

double Image::at(std::uint32_t row, std::uint32_t col, std::uint32_t channel) const {
    if (row >= height || col >= width || channel >= channels)
        throw ToolError("sample position outside the image");
    const std::size_t k = offset(row, col, channel);
    return visitSamples([k](auto samples) { return static_cast<double>(samples[k]); });
}

void Image::set(std::uint32_t row, std::uint32_t col, std::uint32_t channel, double value) {
    if (row >= height || col >= width || channel >= channels)
        throw ToolError("sample position outside the image");
    const std::size_t k = offset(row, col, channel);
    visitSamples([k, value](auto samples) {
        using T = typename decltype(samples)::value_type;
        samples[k] = storeSample<T>(value);
    });
}

Image Image::clone() const {
    if (empty()) return {};
    Image copy = allocate(width, height, channels, type_);
    std::memcpy(copy.array_->realData, array_->realData, byteCount());
    return copy;
}

bool Image::operator==(const Image& other) const {
    if (width != other.width || height != other.height || channels != other.channels ||
        type_ != other.type_ || empty() != other.empty())
        return false;
    if (empty()) return true;
    return std::memcmp(array_->realData, other.array_->realData, byteCount()) == 0;
}

}  // namespace axiswarp::tools

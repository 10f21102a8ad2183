#include "image.hpp"

#include "tool_error.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace axiswarp::tools {

namespace {

void checkShape(std::uint32_t width, std::uint32_t height, std::uint32_t channels, int bitDepth) {
    if (width == 0 || height == 0) throw ToolError("an image needs a non-zero width and height");
    if (channels < 1 || channels > 4)
        throw ToolError("an image has 1 to 4 channels, not " + std::to_string(channels));
    if (bitDepth != 8 && bitDepth != 16)
        throw ToolError("an image has 8 or 16 bits per sample, not " + std::to_string(bitDepth));
    if (std::uint64_t{width} * height * channels > std::numeric_limits<std::size_t>::max() / 2)
        throw ToolError("the image is too large to hold in memory");
}

}  // namespace

Image Image::allocate(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                      int bitDepth) {
    checkShape(width, height, channels, bitDepth);
    const std::uint64_t dims[3] = {height, width, channels};
    Image image;
    image.array_ = zuhost::createArray(bitDepth == 8 ? zuUint8Class : zuUint16Class, dims);
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bitDepth_ = bitDepth;
    return image;
}

Image Image::blank(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                   int bitDepth) {
    Image image = allocate(width, height, channels, bitDepth);
    std::memset(image.array_->realData, 0,
                static_cast<std::size_t>(image.sampleCount()) * static_cast<std::size_t>(bitDepth / 8));
    return image;
}

Image Image::adopt(zuhost::ArrayPtr array) {
    if (array == nullptr) throw ToolError("no array to make an image of");
    const zuClassID id = array->classID();
    const std::vector<std::uint64_t> dims = zuhost::extents(*array);
    const std::uint64_t channels = dims.size() == 3 ? dims[2] : 1;
    if ((id != zuUint8Class && id != zuUint16Class) || array->isComplex() || dims.size() > 3 ||
        dims[0] == 0 || dims[1] == 0 || dims[0] > std::numeric_limits<std::uint32_t>::max() ||
        dims[1] > std::numeric_limits<std::uint32_t>::max() || channels < 1 || channels > 4)
        throw ToolError(std::string("a ") + zuhost::className(id) +
                        " array of this shape is not an image");
    Image image;
    image.height = static_cast<std::uint32_t>(dims[0]);
    image.width = static_cast<std::uint32_t>(dims[1]);
    image.channels = static_cast<std::uint32_t>(channels);
    image.bitDepth_ = id == zuUint8Class ? 8 : 16;
    image.array_ = std::move(array);
    return image;
}

zuhost::ArrayPtr Image::release() noexcept {
    width = height = channels = 0;
    return std::move(array_);
}

std::span<std::uint8_t> Image::samples8() {
    if (array_ == nullptr || bitDepth_ != 8) throw ToolError("the image does not hold 8-bit samples");
    return {static_cast<std::uint8_t*>(array_->realData), static_cast<std::size_t>(sampleCount())};
}

std::span<const std::uint8_t> Image::samples8() const {
    return const_cast<Image*>(this)->samples8();
}

std::span<std::uint16_t> Image::samples16() {
    if (array_ == nullptr || bitDepth_ != 16)
        throw ToolError("the image does not hold 16-bit samples");
    return {static_cast<std::uint16_t*>(array_->realData), static_cast<std::size_t>(sampleCount())};
}

std::span<const std::uint16_t> Image::samples16() const {
    return const_cast<Image*>(this)->samples16();
}

std::uint32_t Image::at(std::uint32_t row, std::uint32_t col, std::uint32_t channel) const {
    if (row >= height || col >= width || channel >= channels)
        throw ToolError("sample position outside the image");
    const std::size_t k = offset(row, col, channel);
    return visitSamples([k](auto samples) -> std::uint32_t { return samples[k]; });
}

void Image::set(std::uint32_t row, std::uint32_t col, std::uint32_t channel, std::uint32_t value) {
    if (row >= height || col >= width || channel >= channels)
        throw ToolError("sample position outside the image");
    const std::size_t k = offset(row, col, channel);
    visitSamples([k, value](auto samples) {
        using T = typename decltype(samples)::value_type;
        samples[k] = static_cast<T>(std::min<std::uint32_t>(value, std::numeric_limits<T>::max()));
    });
}

Image Image::clone() const {
    if (empty()) return {};
    Image copy = allocate(width, height, channels, bitDepth_);
    std::memcpy(copy.array_->realData, array_->realData,
                static_cast<std::size_t>(sampleCount()) * static_cast<std::size_t>(bitDepth_ / 8));
    return copy;
}

bool Image::operator==(const Image& other) const {
    if (width != other.width || height != other.height || channels != other.channels ||
        bitDepth_ != other.bitDepth_ || empty() != other.empty())
        return false;
    if (empty()) return true;
    return std::memcmp(array_->realData, other.array_->realData,
                       static_cast<std::size_t>(sampleCount()) *
                           static_cast<std::size_t>(bitDepth_ / 8)) == 0;
}

}  // namespace axiswarp::tools

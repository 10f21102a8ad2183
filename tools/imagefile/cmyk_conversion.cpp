#include "imagefile/cmyk_conversion.hpp"

#include "imagefile/codec_support.hpp"

#include <lcms2.h>

#include <limits>
#include <string>
#include <vector>

namespace axiswarp::tools {

namespace {

struct ProfileClose {
    void operator()(void* profile) const noexcept { cmsCloseProfile(profile); }
};
struct TransformDelete {
    void operator()(void* transform) const noexcept { cmsDeleteTransform(transform); }
};
using Profile = std::unique_ptr<void, ProfileClose>;
using Transform = std::unique_ptr<void, TransformDelete>;

// lcms2 reports through a process-wide handler, by default nowhere; a
// failure shows as a null profile or transform, which is refused here.
Profile openCmykProfile(const std::vector<std::byte>& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<cmsUInt32Number>::max()) return nullptr;
    Profile profile(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
    if (profile && cmsGetColorSpace(profile.get()) != cmsSigCmykData) profile.reset();
    return profile;
}

std::vector<std::byte> srgbProfileBytes() {
    const Profile srgb(cmsCreate_sRGBProfile());
    cmsUInt32Number size = 0;
    if (!srgb || !cmsSaveProfileToMem(srgb.get(), nullptr, &size) || size == 0) return {};
    std::vector<std::byte> bytes(size);
    if (!cmsSaveProfileToMem(srgb.get(), bytes.data(), &size)) return {};
    bytes.resize(size);
    return bytes;
}

class CmykToSrgbWriter final : public ImageWriter {
public:
    CmykToSrgbWriter(std::unique_ptr<ImageWriter> rgb, const StreamInfo& out, std::string_view name)
        : rgb_(std::move(rgb)), name_(name), width_(out.page.width) {
        const Profile cmyk = openCmykProfile(out.metadata.iccProfile);
        const Profile srgb(cmsCreate_sRGBProfile());
        if (!cmyk || !srgb) failCodec(name, "cannot open the CMYK colour profile to convert by");
        const bool eight = out.page.type == SampleType::uint8;
        // Adobe's inverted samples (0 is full ink) are read as such.
        const bool inverted = out.metadata.colour == ColourModel::cmykInverted;
        const cmsUInt32Number in = eight ? (inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8)
                                         : (inverted ? TYPE_CMYK_16_REV : TYPE_CMYK_16);
        transform_.reset(cmsCreateTransform(cmyk.get(), in, srgb.get(), eight ? TYPE_RGB_8 : TYPE_RGB_16,
                                            INTENT_PERCEPTUAL, 0));
        if (!transform_) failCodec(name, "lcms2 cannot convert by the image's CMYK colour profile");
        inRowBytes_ = out.page.rowBytes();
        rgbRowBytes_ = std::size_t{width_} * 3 * (eight ? 1 : 2);
    }

    void writeRows(const unsigned char* band, std::uint32_t rows) override {
        rgb_rows_.resize(bufferBytes(name_, rgbRowBytes_, rows) / 2 + 1);
        auto* to = reinterpret_cast<unsigned char*>(rgb_rows_.data());
        for (std::uint32_t r = 0; r < rows; ++r)
            cmsDoTransform(transform_.get(), band + r * inRowBytes_, to + r * rgbRowBytes_, width_);
        rgb_->writeRows(to, rows);
    }
    void nextPage() override { rgb_->nextPage(); }
    void finish() override { rgb_->finish(); }

private:
    std::unique_ptr<ImageWriter> rgb_;
    std::string name_;
    std::uint32_t width_;
    Transform transform_;
    std::size_t inRowBytes_ = 0;
    std::size_t rgbRowBytes_ = 0;
    std::vector<std::uint16_t> rgb_rows_;  // aligned for 16-bit samples
};

}  // namespace

StreamInfo srgbInfoOfCmyk(const StreamInfo& out, std::string_view name, std::string_view format) {
    const std::string keepers = "; write it as .jpg or .tif, which keep CMYK";
    if (out.page.channels != 4)
        failCodec(name, "a CMYK image has four channels, not " + std::to_string(out.page.channels));
    if (out.page.type != SampleType::uint8 && out.page.type != SampleType::uint16)
        failCodec(name, "the CMYK image has " + std::string(sampleTypeName(out.page.type)) +
                            " samples, which cannot be converted to RGB for " + std::string(format) + keepers);
    if (!openCmykProfile(out.metadata.iccProfile))
        failCodec(name, "the image is CMYK without a CMYK colour profile to convert it to RGB by, and " +
                            std::string(format) + " holds RGB" + keepers);
    StreamInfo rgb = out;
    rgb.page.channels = 3;
    rgb.metadata.colour = ColourModel::byChannels;
    rgb.metadata.iccProfile = srgbProfileBytes();
    return rgb;
}

std::unique_ptr<ImageWriter> cmykToSrgbWriter(std::unique_ptr<ImageWriter> rgb, const StreamInfo& out,
                                              std::string_view name) {
    return std::make_unique<CmykToSrgbWriter>(std::move(rgb), out, name);
}

}  // namespace axiswarp::tools

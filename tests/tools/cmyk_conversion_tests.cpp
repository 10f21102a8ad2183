// CMYK pages written to a format that holds RGB alone: converted through
// their profile to sRGB (either convention of the samples), refused without
// one.
#include "imagefile/format_registry.hpp"
#include "imagefile/icc_profile.hpp"
#include "imagefile/png_codec.hpp"
#include "memory_output.hpp"
#include "runtime/tool_error.hpp"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

// A CMYK profile whose A2B0 table makes ink darken by a plain rule: the
// tests need a profile, and the machine has none to hand.
std::vector<std::byte> plainCmykProfile() {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);  // a lone table saves as lut16Type; v4 wants curves around it
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 3, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        clut,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
            const double ink = (in[0] + in[1] + in[2]) / 3.0 / 65535.0;
            const cmsCIELab lab{100.0 * (1.0 - in[3] / 65535.0) * (1.0 - 0.6 * ink), 40.0 * (in[1] - in[0]) / 65535.0,
                                40.0 * (in[1] - in[2]) / 65535.0};
            cmsFloat2LabEncoded(out, &lab);
            return TRUE;
        },
        nullptr, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, clut);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsPipelineFree(lut);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::byte> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// One row of two pixels written as CMYK to PNG, decoded back as RGB.
Image cmykToPng(const std::vector<std::uint8_t>& row, ColourModel colour, std::vector<std::byte> profile) {
    StreamInfo out;
    out.format = ImageFormat::png;
    out.page = {2, 1, 4, SampleType::uint8};
    out.metadata.colour = colour;
    out.metadata.iccProfile = std::move(profile);
    MemoryOutput output;
    const auto writer = openImageWriter(ImageFormat::png, output, out, "out.png", {});
    writer->writeRows(row.data(), 1);
    writer->finish();
    ImageMetadata metadata;
    Image image = decodePng(output.bytes(), "out.png", {}, &metadata);
    EXPECT_TRUE(isSrgbProfile(metadata.iccProfile));
    return image;
}

TEST(CmykToRgb, ConvertedThroughTheProfileInEitherConvention) {
    const std::vector<std::byte> profile = plainCmykProfile();
    // No ink, then full black; Adobe's convention stores 255 - v.
    const struct {
        ColourModel colour;
        std::vector<std::uint8_t> row;
    } cases[] = {{ColourModel::cmyk, {0, 0, 0, 0, 0, 0, 0, 255}},
                 {ColourModel::cmykInverted, {255, 255, 255, 255, 255, 255, 255, 0}}};
    for (const auto& c : cases) {
        const Image rgb = cmykToPng(c.row, c.colour, profile);
        ASSERT_EQ(rgb.channels, 3u);
        for (std::uint32_t ch = 0; ch < 3; ++ch) {
            EXPECT_GE(rgb.at(0, 0, ch), 250.0) << "no ink is white";
            EXPECT_LE(rgb.at(0, 1, ch), 5.0) << "full black ink is black";
        }
    }
}

TEST(CmykToRgb, RefusedWithoutACmykProfile) {
    const std::vector<std::vector<std::byte>> profiles = {{}, std::vector<std::byte>(200, std::byte{1})};
    for (const auto& profile : profiles) {
        try {
            cmykToPng({0, 0, 0, 0, 0, 0, 0, 0}, ColourModel::cmyk, profile);
            ADD_FAILURE() << "accepted";
        } catch (const ToolError& error) {
            EXPECT_NE(std::string(error.what()).find("out.png: the image is CMYK without a CMYK colour profile"),
                      std::string::npos)
                << error.what();
        }
    }
}

}  // namespace

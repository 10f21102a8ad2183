// Resizing images of every sample type, and in linear light, against the
// test's own plain model of the arithmetic.
#include "image/image.hpp"
#include "resample/resize_pipeline.hpp"
#include "resample/srgb_transfer.hpp"
#include "runtime/tool_error.hpp"

#include "module_fixture.hpp"
#include "resize_model.hpp"
#include "tool_error_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;
using axiswarp::testing::ModuleTest;
using axiswarp::testing::errorOf;
using axiswarp::testing::modelPass;

constexpr SampleType kAllTypes[] = {SampleType::uint8, SampleType::uint16, SampleType::uint32,
                                    SampleType::int8,  SampleType::int16,  SampleType::int32,
                                    SampleType::float32, SampleType::float64};

// The storing rule, written plainly: integers round half away from zero and
// saturate, NaN gives 0; float rounds to nearest; double keeps the value.
double modelStore(SampleType type, double x) {
    switch (type) {
        case SampleType::float64: return x;
        case SampleType::float32: return static_cast<double>(static_cast<float>(x));
        default: break;
    }
    if (std::isnan(x)) return 0.0;
    const double lo = isSigned(type) ? -std::ldexp(1.0, bitsOf(type) - 1) : 0.0;
    const double hi = isSigned(type) ? std::ldexp(1.0, bitsOf(type) - 1) - 1 : std::ldexp(1.0, bitsOf(type)) - 1;
    const double r = x >= 0 ? std::floor(x + 0.5) : std::ceil(x - 0.5);
    return std::min(hi, std::max(lo, r));
}

TEST(StoreSample, RoundsAndSaturatesAsTheModuleStores) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double in;
        double u8, i8, i32, f32;
    };
    const Case cases[] = {
        {0.5, 1, 1, 1, 0.5},
        {2.5, 3, 3, 3, 2.5},
        {-0.5, 0, -1, -1, -0.5},
        {-2.5, 0, -3, -3, -2.5},
        {-0.4, 0, 0, 0, static_cast<float>(-0.4)},
        {0.49999999999999994, 1, 1, 1, static_cast<float>(0.49999999999999994)},
        {254.5, 255, 127, 255, 254.5},
        {1e300, 255, 127, 2147483647, inf},
        {-1e300, 0, -128, -2147483648.0, -inf},
        {3.4028235e38, 255, 127, 2147483647, std::numeric_limits<float>::max()},  // under half an ulp past it
        {3.4028235677973366e38, 255, 127, 2147483647, inf},  // half an ulp: the tie goes to infinity
        {nan, 0, 0, 0, nan},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(storeSample<std::uint8_t>(c.in), c.u8);
        EXPECT_EQ(storeSample<std::int8_t>(c.in), c.i8);
        EXPECT_EQ(storeSample<std::int32_t>(c.in), c.i32);
        const float f = storeSample<float>(c.in);
        if (std::isnan(c.f32)) EXPECT_TRUE(std::isnan(f));
        else EXPECT_EQ(f, c.f32);
        for (const SampleType t : kAllTypes) {
            // The float conversion beyond its range is the float column's.
            if (t == SampleType::float32 && !(std::abs(c.in) <= std::numeric_limits<float>::max())) continue;
            const double stored = withSampleType(t, [&](auto zero) {
                return static_cast<double>(storeSample<decltype(zero)>(c.in));
            });
            const double model = modelStore(t, c.in);
            if (std::isnan(model)) EXPECT_TRUE(std::isnan(stored)) << sampleTypeName(t);
            else EXPECT_EQ(stored, model) << sampleTypeName(t);
        }
    }
}

// Samples spread over the whole range of the type, with its extremes next
// to each other so that ringing overshoots both ends.
Image randomImage(SampleType type, std::uint32_t w, std::uint32_t h, std::uint32_t c, unsigned seed) {
    std::mt19937 random(seed);
    Image image = Image::blank(w, h, c, type);
    const double hi = isFloat(type) ? 1.5 : nominalMax(type);
    const double lo = isFloat(type) ? -0.5 : isSigned(type) ? -hi - 1 : 0.0;
    std::uniform_real_distribution<double> any(lo, hi);
    for (std::uint32_t k = 0; k < c; ++k)
        for (std::uint32_t j = 0; j < w; ++j)
            for (std::uint32_t i = 0; i < h; ++i) {
                double v = any(random);
                if (i == 2 && j == 1) v = hi;
                if (i == 2 && j == 2) v = lo;
                if (c % 2 == 0 && k == c - 1) v = std::abs(v);  // alpha
                image.set(i, j, k, v);
            }
    return image;
}

class SampleTypes : public ModuleTest {};

TEST_F(SampleTypes, EveryTypeResizesInItsOwnClassOrOnceInDouble) {
    const ImageSize in{6, 5};
    for (const SampleType type : kAllTypes)
        for (const std::uint32_t channels : {1u, 2u, 3u})
            for (const bool precise : {false, true})
                for (const ImageSize out : {ImageSize{4, 9}, ImageSize{11, 3}}) {
                    SCOPED_TRACE(std::string(sampleTypeName(type)) + " channels " + std::to_string(channels) +
                                 (precise ? " precise" : "") + " to " + std::to_string(out.width) + "x" +
                                 std::to_string(out.height));
                    const Image image = randomImage(type, in.width, in.height, channels, 7 * channels + precise);
                    const FilterChoice filter{Kernel::lanczos3, true, Border::symmetric};
                    const ResizePlan plan = planResize(in, out, filter);
                    ResampleOptions options;
                    options.precise = precise;
                    const Image got = resizeImage(module(), image, plan, options);
                    ASSERT_EQ(got.sampleType(), type);

                    const bool alpha = channels % 2 == 0;
                    const bool inDouble = precise || alpha;
                    std::vector<double> v(image.sampleCount());
                    const std::uint64_t plane = std::uint64_t{in.width} * in.height;
                    for (std::uint64_t e = 0; e < v.size(); ++e) v[e] = image.visitSamples([e](auto x) { return double(x[e]); });
                    if (alpha)
                        for (std::uint64_t p = 0; p < plane; ++p) v[p] *= v[plane + p];
                    std::uint64_t rows = in.height, cols = in.width;
                    for (const ResizePass& pass : plan.passes) {
                        v = modelPass(v, rows, cols, channels, pass.tables, pass.dim, [&](double s) {
                            return inDouble ? s : modelStore(type, s);
                        });
                        (pass.dim == 1 ? rows : cols) = pass.tables.outLength;
                    }
                    const std::uint64_t outPlane = rows * cols;
                    if (inDouble && !alpha)
                        for (double& e : v) e = modelStore(type, e);
                    for (std::uint64_t p = 0; p < outPlane && alpha; ++p) {
                        const double a = v[outPlane + p];
                        v[outPlane + p] = modelStore(type, a);
                        v[p] = v[outPlane + p] > 0 ? modelStore(type, v[p] / a) : 0.0;
                    }
                    for (std::uint64_t e = 0; e < v.size(); ++e) {
                        const double g = got.visitSamples([e](auto x) { return double(x[e]); });
                        ASSERT_EQ(g, v[e]) << "sample " << e;
                    }
                }
}

// A black and a white pixel made into one: averaging the codes gives the
// middle code, averaging the light gives the code of half the light,
// 0.7353569830524495 of the way up the sRGB curve.
TEST_F(SampleTypes, LinearLightAveragesLightNotCodes) {
    struct Case {
        SampleType type;
        std::uint32_t channels;
        double codes, light;
    };
    const Case cases[] = {
        {SampleType::uint8, 1, 128, 188},  // 127.5 and 187.516
        {SampleType::uint8, 3, 128, 188},
        {SampleType::uint16, 1, 32768, 48192},  // 48191.62
        {SampleType::uint16, 4, 32768, 48192},
        {SampleType::uint32, 1, 2147483648.0, 3158334192.0},  // 0.7353569830524495 * (2^32 - 1) = 3158334192.36
        {SampleType::float32, 1, 0.5, static_cast<double>(0.7353569830524495f)},
        {SampleType::float64, 2, 0.5, 0.7353569830524495},
    };
    const ResizePlan plan = planResize({2, 1}, {1, 1}, {Kernel::box, true, Border::symmetric});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sampleTypeName(c.type)) + " channels " + std::to_string(c.channels));
        Image pair = Image::blank(2, 1, c.channels, c.type);
        const double white = nominalMax(c.type);
        for (std::uint32_t k = 0; k < c.channels; ++k) pair.set(0, 1, k, white);
        if (c.channels % 2 == 0) pair.set(0, 0, c.channels - 1, white);  // both opaque
        ResampleOptions options;
        EXPECT_EQ(resizeImage(module(), pair, plan, options).at(0, 0, 0), c.codes);
        options.linear = true;
        const Image light = resizeImage(module(), pair, plan, options);
        for (std::uint32_t k = 0; k + (c.channels % 2 == 0) < c.channels; ++k)
            EXPECT_NEAR(light.at(0, 0, k), c.light, std::abs(c.light) * 1e-15) << "channel " << k;
    }
}

TEST_F(SampleTypes, LinearLightIsExactWhereTheTablesCopy) {
    // One tap of weight 1 per sample: decoding and encoding must give every
    // code back, at both depths, with and without alpha.
    for (const int depth : {8, 16})
        for (const std::uint32_t channels : {1u, 4u}) {
            SCOPED_TRACE(std::to_string(depth) + " bits, channels " + std::to_string(channels));
            const std::uint32_t side = depth == 8 ? 16 : 256;
            Image image = Image::blank(side, side, channels, depth);
            for (std::uint32_t j = 0; j < side; ++j)
                for (std::uint32_t i = 0; i < side; ++i)
                    for (std::uint32_t k = 0; k < channels; ++k)
                        image.set(i, j, k, k == 3 ? nominalMax(image.sampleType()) : i + side * j);
            ResampleOptions options;
            options.filter = {Kernel::nearest, false, Border::symmetric};
            options.linear = true;
            EXPECT_TRUE(resize(module(), image, {side, side}, options) == image);
        }
}

TEST_F(SampleTypes, LinearLightRefusesSignedIntegers) {
    const Image image = Image::blank(2, 2, 1, SampleType::int16);
    ResampleOptions options;
    options.linear = true;
    EXPECT_NE(errorOf([&] { resize(module(), image, {1, 1}, options); })
                  .find("linear light needs unsigned integer or float samples, and the image has int16"),
              std::string::npos);
}

TEST(SrgbCurve, IsContinuousAtItsToeAndMirroredBelowZero) {
    // Both pieces of each direction meet within rounding at the toe.
    EXPECT_NEAR(srgbToLinear(0.04045), std::pow((0.04045 + 0.055) / 1.055, 2.4), 1e-7);
    EXPECT_NEAR(linearToSrgb(0.0031308), 1.055 * std::pow(0.0031308, 1 / 2.4) - 0.055, 1e-7);
    EXPECT_EQ(srgbToLinear(-0.5), -srgbToLinear(0.5));
    EXPECT_NEAR(linearToSrgb(1.0), 1.0, 1e-15);
    EXPECT_TRUE(std::isnan(srgbToLinear(std::numeric_limits<double>::quiet_NaN())));
}

}  // namespace

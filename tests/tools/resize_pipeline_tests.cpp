// Whole-image resizing through the built module: sizes, pass order, exact
// agreement with a plain double-precision model, constants and alpha.
#include "resample/resize_pipeline.hpp"
#include "runtime/tool_error.hpp"

#include "module_fixture.hpp"
#include "resize_model.hpp"
#include "tool_error_text.hpp"
#include "skip_without_threads.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;
using axiswarp::testing::ModuleTest;

using axiswarp::testing::errorOf;

ResampleOptions precisely(bool precise) {
    ResampleOptions options;
    options.precise = precise;
    return options;
}

TEST(ResizeSize, TargetSizesFollowTheRequest) {
    using Mode = SizeRequest::Mode;
    struct Case {
        ImageSize in;
        SizeRequest request;
        ImageSize expected;
    };
    const std::vector<Case> cases{
        {{5, 3}, {Mode::scale, 0.5, 0, 0}, {3, 2}},          // 2.5 and 1.5 round up
        {{10, 10}, {Mode::scale, 0.01, 0, 0}, {1, 1}},       // never below 1
        {{1, 1}, {Mode::scale, 3.0, 0, 0}, {3, 3}},
        {{640, 480}, {Mode::width, 0, 100, 0}, {100, 75}},
        {{640, 480}, {Mode::height, 0, 0, 100}, {133, 100}},  // 133.33
        {{3, 2}, {Mode::width, 0, 3, 0}, {3, 2}},
        {{4, 3}, {Mode::width, 0, 2, 0}, {2, 2}},           // 1.5 rounds up
        {{1000, 10}, {Mode::width, 0, 10, 0}, {10, 1}},      // 0.1 kept at 1
        {{7, 9}, {Mode::size, 0, 20, 1}, {20, 1}},
    };
    for (const Case& c : cases) {
        const ImageSize got = targetSize(c.in, c.request);
        EXPECT_EQ(got, c.expected) << c.in.width << "x" << c.in.height << " -> " << got.width << "x"
                                   << got.height;
    }
    EXPECT_NE(errorOf([] { targetSize({100000, 100000}, {SizeRequest::Mode::scale, 1.0, 0, 0}); })
                  .find("exceeds the limit"),
              std::string::npos);
    EXPECT_NE(errorOf([] { targetSize({10, 10}, {SizeRequest::Mode::scale, 1e300, 0, 0}); }), "no error");
}

TEST(ResizePlanOrder, TheDimensionThatShrinksMostGoesFirst) {
    struct Case {
        ImageSize in, out;
        int first;
    };
    for (const Case& c : {Case{{100, 100}, {50, 25}, 1}, Case{{100, 100}, {25, 50}, 2},
                          Case{{100, 50}, {50, 25}, 1},   // equal ratios: rows first
                          Case{{10, 10}, {30, 20}, 1}, Case{{10, 10}, {20, 30}, 2},
                          Case{{1, 1}, {1, 1}, 1}}) {
        const ResizePlan plan = planResize(c.in, c.out, {});
        EXPECT_EQ(plan.passes[0].dim, c.first);
        EXPECT_EQ(plan.passes[1].dim, 3 - c.first);
        for (const ResizePass& p : plan.passes)
            EXPECT_EQ(p.tables.outLength, p.dim == 1 ? c.out.height : c.out.width);
    }
}

// One pass of the model, optionally rounded half up and saturated at `top`
// like an unsigned integer class (top 0: not rounded).
std::vector<double> modelPass(const std::vector<double>& in, std::uint64_t rows, std::uint64_t cols,
                              std::uint64_t channels, const Tables& t, int dim, double top) {
    return axiswarp::testing::modelPass(in, rows, cols, channels, t, dim, [top](double sum) {
        return top > 0 ? (sum <= 0 ? 0 : sum >= top ? top : std::trunc(sum + 0.5)) : sum;
    });
}

Image makeImage(std::uint32_t w, std::uint32_t h, std::uint32_t c, int depth,
                const std::function<std::uint32_t(std::uint32_t, std::uint32_t, std::uint32_t)>& f) {
    Image img = Image::blank(w, h, c, depth);
    for (std::uint32_t k = 0; k < c; ++k)
        for (std::uint32_t j = 0; j < w; ++j)
            for (std::uint32_t i = 0; i < h; ++i) img.set(i, j, k, f(i, j, k));
    return img;
}

class ResizeThroughModule : public ModuleTest {};

TEST_F(ResizeThroughModule, GradientMatchesAPlainDoubleComputation) {
    struct Size {
        ImageSize in, out;
    };
    for (const Kernel kernel : {Kernel::nearest, Kernel::box, Kernel::triangle, Kernel::cubic,
                                Kernel::lanczos2, Kernel::lanczos3})
        for (const int depth : {8, 16})
            for (const bool precise : {false, true})
                for (const bool antialias : {true, false})
                    for (const Size s : {Size{{5, 7}, {9, 4}}, Size{{5, 7}, {2, 12}}, Size{{4, 6}, {2, 3}}}) {
                        SCOPED_TRACE(std::string(kernelName(kernel)) + " depth " + std::to_string(depth) +
                                     (precise ? " precise" : "") + (antialias ? " aa" : "") + " to " +
                                     std::to_string(s.out.width) + "x" + std::to_string(s.out.height));
                        const std::uint32_t unit = depth == 8 ? 1 : 257;
                        // A ramp with one bright and one dark outlier, so that ringing
                        // reaches past both ends of the range.
                        const Image image = makeImage(s.in.width, s.in.height, 3, depth, [&](auto i, auto j, auto k) {
                            if (i == 3 && j == 2) return 255 * unit;
                            if (i == 0 && j == 4) return 0u;
                            return (20 * i + 9 * j + 25 * k + 3) * unit + (depth == 16 ? 7 * i : 0);
                        });
                        const ResizePlan plan = planResize(s.in, s.out, {kernel, antialias, Border::symmetric});
                        const Image got = resizeImage(module(), image, plan, precisely(precise));

                        const double top = depth == 8 ? 255.0 : 65535.0;
                        TableRequest rowRequest{s.in.height, s.out.height, 0.0, {kernel, antialias, Border::symmetric}};
                        TableRequest colRequest{s.in.width, s.out.width, 0.0, {kernel, antialias, Border::symmetric}};
                        std::vector<double> v(image.sampleCount());
                        for (std::size_t e = 0; e < v.size(); ++e)
                            v[e] = image.visitSamples([e](auto x) { return double(x[e]); });
                        const bool rowsFirst = double(s.out.height) / s.in.height <= double(s.out.width) / s.in.width;
                        const double between = precise ? 0.0 : top;
                        if (rowsFirst) {
                            v = modelPass(v, s.in.height, s.in.width, 3, buildTables(rowRequest), 1, between);
                            v = modelPass(v, s.out.height, s.in.width, 3, buildTables(colRequest), 2, top);
                        } else {
                            v = modelPass(v, s.in.height, s.in.width, 3, buildTables(colRequest), 2, between);
                            v = modelPass(v, s.in.height, s.out.width, 3, buildTables(rowRequest), 1, top);
                        }
                        ASSERT_EQ(got.width, s.out.width);
                        ASSERT_EQ(got.height, s.out.height);
                        ASSERT_EQ(got.bitDepth(), depth);
                        for (std::size_t e = 0; e < v.size(); ++e) {
                            const double g = got.visitSamples([e](auto x) { return double(x[e]); });
                            ASSERT_EQ(g, v[e]) << "sample " << e;
                        }
                    }
}

// The model's input for tables with a fill sample: one more sample of value
// `fill` at the end of dimension `dim` of every plane.
std::vector<double> withFill(const std::vector<double>& in, std::uint64_t rows, std::uint64_t cols,
                             std::uint64_t channels, int dim, double fill) {
    std::vector<double> out;
    for (std::uint64_t c = 0; c < channels; ++c)
        for (std::uint64_t j = 0; j < cols + (dim == 2); ++j)
            for (std::uint64_t i = 0; i < rows + (dim == 1); ++i)
                out.push_back(i == rows || j == cols ? fill : in[c * rows * cols + j * rows + i]);
    return out;
}

TEST_F(ResizeThroughModule, EveryBorderMatchesAPlainDoubleComputation) {
    struct Case {
        Border border;
        double fill;
    };
    std::vector<Case> cases{{Border::constant, 200.0}, {Border::constant, 0.0}};
    for (std::string_view name : borderNames())
        if (parseBorder(name) != Border::constant) cases.push_back({parseBorder(name), 0.0});
    for (const Case& c : cases)
        for (const Kernel kernel : {Kernel::nearest, Kernel::cubic, Kernel::lanczos3})
            for (const bool precise : {false, true})
                for (const auto& [in, out] : {std::pair{ImageSize{5, 7}, ImageSize{9, 4}},
                                              std::pair{ImageSize{6, 3}, ImageSize{2, 11}}}) {
                    SCOPED_TRACE(std::string(borderName(c.border)) + " fill " + std::to_string(c.fill) + " " +
                                 std::string(kernelName(kernel)) + (precise ? " precise" : "") + " to " +
                                 std::to_string(out.width) + "x" + std::to_string(out.height));
                    const Image image = makeImage(in.width, in.height, 3, 8, [](auto i, auto j, auto k) {
                        return (37 * i + 91 * j * j + 50 * k) % 256;
                    });
                    const FilterChoice filter{kernel, true, c.border, c.fill};
                    const ResizePlan plan = planResize(in, out, filter);
                    const Image got = resizeImage(module(), image, plan, precisely(precise));

                    std::vector<double> v(image.sampleCount());
                    for (std::size_t e = 0; e < v.size(); ++e) v[e] = image.at(e % in.height, e / in.height % in.width, e / in.height / in.width);
                    std::uint64_t rows = in.height, cols = in.width;
                    for (std::size_t p = 0; p < 2; ++p) {
                        const ResizePass& pass = plan.passes[p];
                        std::uint64_t r = rows, q = cols;
                        if (pass.tables.fillSample) {
                            v = withFill(v, rows, cols, 3, pass.dim, c.fill);
                            (pass.dim == 1 ? r : q) += 1;
                        }
                        v = modelPass(v, r, q, 3, pass.tables, pass.dim, p == 1 || !precise ? 255.0 : 0.0);
                        (pass.dim == 1 ? rows : cols) = pass.tables.outLength;
                    }
                    bool named = plan.passes[0].tables.fillSample || plan.passes[1].tables.fillSample;
                    // Nearest never reaches beyond the edge at the default scale.
                    if (kernel != Kernel::nearest) {
                        EXPECT_EQ(named, c.border == Border::constant && c.fill != 0.0);
                    }
                    for (std::size_t e = 0; e < v.size(); ++e)
                        ASSERT_EQ(got.at(e % out.height, e / out.height % out.width, e / out.height / out.width), v[e])
                            << "sample " << e;
                }
}

TEST_F(ResizeThroughModule, AFillTheSampleTypeCannotHoldIsRefused) {
    const Image image = makeImage(4, 3, 1, 8, [](auto i, auto, auto) { return i; });
    for (const double fill : {256.0, -1.0, 2.5, std::nan("")}) {
        const ResizePlan plan = planResize({4, 3}, {8, 6}, {Kernel::cubic, true, Border::constant, fill});
        EXPECT_NE(errorOf([&] { resizeImage(module(), image, plan, {}); }).find("is not a value of uint8 samples"),
                  std::string::npos)
            << fill;
    }
    EXPECT_EQ(heldFill(0.1, SampleType::float32), double(0.1f));
    EXPECT_EQ(heldFill(-7.0, SampleType::int8), -7.0);
}

TEST_F(ResizeThroughModule, ConstantImagesStayExactlyConstant) {
    struct Shape {
        ImageSize in, out;
    };
    for (const Kernel kernel : {Kernel::nearest, Kernel::box, Kernel::triangle, Kernel::cubic,
                                Kernel::lanczos2, Kernel::lanczos3})
        for (const int depth : {8, 16})
            for (const std::uint32_t channels : {1u, 2u, 3u, 4u})
                for (const bool precise : {false, true})
                    for (const Shape s : {Shape{{13, 9}, {4, 5}}, Shape{{13, 9}, {30, 17}}, Shape{{1, 1}, {3, 2}},
                                          Shape{{5, 5}, {1, 1}}}) {
                        const std::uint32_t top = depth == 8 ? 255 : 65535;
                        for (const std::uint32_t value : {0u, 1u, top / 3, top}) {
                            SCOPED_TRACE(std::string(kernelName(kernel)) + " depth " + std::to_string(depth) +
                                         " C=" + std::to_string(channels) + " value " + std::to_string(value));
                            // Alpha must not be 0, which would zero the colour.
                            const Image image = makeImage(s.in.width, s.in.height, channels, depth,
                                                          [&](auto, auto, auto k) {
                                                              return (channels % 2 == 0 && k == channels - 1) ? top - 5 : value;
                                                          });
                            FilterChoice filter;
                            filter.kernel = kernel;
                            const Image got = resizeImage(module(), image, planResize(s.in, s.out, filter), precisely(precise));
                            ASSERT_EQ(got.channels, channels);
                            for (std::uint32_t k = 0; k < channels; ++k)
                                for (std::uint32_t j = 0; j < got.width; ++j)
                                    for (std::uint32_t i = 0; i < got.height; ++i)
                                        ASSERT_EQ(got.at(i, j, k), (channels % 2 == 0 && k == channels - 1) ? top - 5 : value);
                        }
                    }
}

TEST_F(ResizeThroughModule, TransparentPixelsLeaveNoFringe) {
    // An opaque coloured disc on fully transparent pixels whose stored colour
    // is black: any bleed of that black shows as a darker colour at the rim.
    for (const Kernel kernel : {Kernel::triangle, Kernel::cubic, Kernel::lanczos3})
        for (const int depth : {8, 16})
            for (const std::uint32_t channels : {2u, 4u})
                for (const ImageSize out : {ImageSize{7, 5}, ImageSize{41, 37}}) {
                    SCOPED_TRACE(std::string(kernelName(kernel)) + " depth " + std::to_string(depth) +
                                 " C=" + std::to_string(channels) + " to " + std::to_string(out.width));
                    const std::uint32_t top = depth == 8 ? 255 : 65535;
                    const std::vector<std::uint32_t> colour{top, top / 2 + 1, 3};
                    const auto inside = [](std::uint32_t i, std::uint32_t j) {
                        return (i - 7.5) * (i - 7.5) + (j - 8.5) * (j - 8.5) < 30.0;
                    };
                    const Image image = makeImage(18, 15, channels, depth, [&](auto i, auto j, auto k) {
                        if (!inside(i, j)) return 0u;
                        return k == channels - 1 ? top : colour[k];
                    });
                    FilterChoice filter;
                    filter.kernel = kernel;
                    const Image got = resizeImage(module(), image, planResize({18, 15}, out, filter), {});
                    std::uint32_t partial = 0;
                    for (std::uint32_t j = 0; j < got.width; ++j)
                        for (std::uint32_t i = 0; i < got.height; ++i) {
                            const std::uint32_t a = got.at(i, j, channels - 1);
                            if (a > 0 && a < top) ++partial;
                            for (std::uint32_t k = 0; k + 1 < channels; ++k)
                                ASSERT_EQ(got.at(i, j, k), a == 0 ? 0 : colour[k]) << i << "," << j << " alpha " << a;
                        }
                    EXPECT_GT(partial, 0u) << "no rim pixels: the case tests nothing";
                }
}

// CMYK: four channels of ink, the fourth not alpha. Each is resampled on its
// own, as a one-channel image of it is; taken as alpha, the zero ink of the
// fourth channel would have wiped out the others.
TEST_F(ResizeThroughModule, NoAlphaResamplesEveryChannelOnItsOwn) {
    const auto ink = [](std::uint32_t i, std::uint32_t j, std::uint32_t k) {
        return k == 3 ? (i + j) % 3 == 0 ? 0u : 200u : 40u * k + 7u * i + 3u * j;
    };
    const Image image = makeImage(18, 15, 4, 8, ink);
    const ResizePlan plan = planResize({18, 15}, {7, 11}, FilterChoice{});
    ResampleOptions cmyk;
    cmyk.noAlpha = true;
    EXPECT_FALSE(hasAlpha(4, cmyk));
    EXPECT_FALSE(usesDoublePath(image, cmyk));
    const Image got = resizeImage(module(), image, plan, cmyk);
    const Image asAlpha = resizeImage(module(), image, plan, {});
    bool differs = false;
    for (std::uint32_t k = 0; k < 4; ++k) {
        const Image alone = resizeImage(module(), makeImage(18, 15, 1, 8, [&](auto i, auto j, auto) { return ink(i, j, k); }),
                                        plan, {});
        for (std::uint32_t j = 0; j < got.width; ++j)
            for (std::uint32_t i = 0; i < got.height; ++i) {
                ASSERT_EQ(got.at(i, j, k), alone.at(i, j, 0)) << i << "," << j << " channel " << k;
                differs = differs || got.at(i, j, k) != asAlpha.at(i, j, k);
            }
    }
    EXPECT_TRUE(differs) << "taken as alpha, the fourth channel changed nothing: the case tests nothing";
}

TEST_F(ResizeThroughModule, AnImageThatDoesNotMatchThePlanIsRefused) {
    const Image image = Image::blank(4, 3, 1, 8);
    EXPECT_NE(errorOf([&] { resizeImage(module(), image, planResize({3, 4}, {2, 2}, {}), {}); })
                  .find("the resize plan is for 3x4"),
              std::string::npos);
}

// Splitting a pass into parts on several threads must not change one bit,
// on sizes that no split divides evenly, on both sample paths.
TEST_F(ResizeThroughModule, SplitPassesGiveTheBitsOfWholeCalls) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    struct Case {
        ImageSize in, out;
        std::uint32_t channels;
        int depth;
        bool precise;
        Kernel kernel;
        Border border = Border::symmetric;
        double fill = 0.0;
    };
    const Case cases[] = {
        {{1001, 777}, {333, 259}, 3, 8, false, Kernel::cubic},     // shrink, class path
        {{601, 403}, {1803, 1211}, 1, 16, false, Kernel::lanczos3},  // enlarge, gray
        {{1025, 779}, {400, 781}, 4, 8, false, Kernel::triangle},    // alpha: double path
        {{1280, 197}, {3000, 461}, 2, 16, true, Kernel::cubic},      // precise
        {{1001, 777}, {333, 1259}, 3, 8, false, Kernel::cubic, Border::constant, 17.0},  // fill sample
        {{1025, 779}, {400, 781}, 4, 8, false, Kernel::lanczos3, Border::constant, 250.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.in.width) + "x" + std::to_string(c.in.height) + " C=" +
                     std::to_string(c.channels));
        const Image image = makeImage(c.in.width, c.in.height, c.channels, c.depth, [&](auto i, auto j, auto k) {
            return (i * 7919u + j * 104729u + k * 12345u + (i * j) % 251u) % (c.depth == 8 ? 256u : 65536u);
        });
        const ResizePlan plan = planResize(c.in, c.out, {c.kernel, true, c.border, c.fill});
        // Both passes are large enough to be split on two threads.
        std::uint64_t rows = c.in.height, cols = c.in.width;
        for (const ResizePass& pass : plan.passes) {
            (pass.dim == 1 ? rows : cols) = pass.tables.outLength;
            EXPECT_GT(partsForPass(pass.tables.taps * rows * cols * c.channels, 2), 1u)
                << "pass along " << pass.dim << " is not split: the case tests nothing";
        }
        const Image whole = resizeImage(module(), image, plan, precisely(c.precise));
        for (const unsigned threads : {2u, 3u, 5u}) {
            WorkerPool pool(threads);
            const Image split = resizeImage(module(), image, plan, precisely(c.precise), &pool);
            EXPECT_TRUE(split == whole) << threads << " threads";
        }
    }
}

TEST(ResizeSplit, SmallPassesStayWhole) {
    EXPECT_EQ(partsForPass(std::uint64_t{1} << 40, 1), 1u);
    EXPECT_EQ(partsForPass(1000, 8), 1u);
    EXPECT_EQ(partsForPass((std::uint64_t{1} << 21) - 1, 8), 1u);
    EXPECT_EQ(partsForPass(std::uint64_t{3} << 20, 8), 3u);
    EXPECT_EQ(partsForPass(std::uint64_t{1} << 40, 4), 8u);
}

// A part that fails fails the whole image: the first failing part's error,
// no output, and nothing left in the host (the fixture checks the counts).
TEST_F(ResizeThroughModule, AFailingPartFailsTheImageAndLeavesNothing) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    const ImageSize in{900, 700}, out{300, 233};
    const Image image = makeImage(in.width, in.height, 3, 8, [](auto i, auto j, auto k) {
        return (i + 3 * j + 7 * k) % 256u;
    });
    for (const int badDim : {1, 2}) {
        for (const unsigned threads : {1u, 2u, 3u}) {
            SCOPED_TRACE("bad index along " + std::to_string(badDim) + ", " + std::to_string(threads) + " threads");
            ResizePlan plan = planResize(in, out, {});
            for (ResizePass& pass : plan.passes) {
                // One index past the end, in the last output sample only: for
                // dimension 2 only the last group of columns of each plane sees it.
                if (pass.dim == badDim) pass.tables.indices.back() = (badDim == 1 ? in.height : in.width) + 1;
            }
            WorkerPool pool(threads);
            try {
                resizeImage(module(), image, plan, {}, &pool);
                ADD_FAILURE() << "the bad index was not refused";
            } catch (const zuhost::HostError& error) {
                EXPECT_EQ(error.identifier(), "Ovela:axisWarp:indexOutOfRange");
            }
        }
    }
}

}  // namespace

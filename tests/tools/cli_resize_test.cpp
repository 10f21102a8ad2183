// End-to-end tests of `axiswarp resize`, `tables` and `demo`: the built binary
// run in a scratch folder.
#include "imagefile/image_io.hpp"
#include "npy/npy_io.hpp"
#include "imagefile/exif_orientation.hpp"
#include "resample/resample_tables.hpp"
#include "resample/resize_pipeline.hpp"

#include "cli_sandbox.hpp"
#include "host_arrays.hpp"
#include "module_fixture.hpp"
#include "skip_without_threads.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace axiswarp::tools;

using axiswarp::testing::RunResult;
using axiswarp::testing::shellQuote;

std::string slurp(const fs::path& path) { return axiswarp::testing::readFileText(path); }

// A small image whose samples all differ, in any channel layout and depth.
Image sample(std::uint32_t w, std::uint32_t h, std::uint32_t c, int depth) {
    Image img = Image::blank(w, h, c, depth);
    const std::uint32_t top = depth == 8 ? 255 : 65535;
    for (std::uint32_t k = 0; k < c; ++k)
        for (std::uint32_t j = 0; j < w; ++j)
            for (std::uint32_t i = 0; i < h; ++i) img.set(i, j, k, (i * 40 + j * 25 + k * 60) * top / 600);
    return img;
}

class CliResize : public axiswarp::testing::CliSandbox {
protected:
    void SetUp() override {
        CliSandbox::SetUp();
        writeImage(work() / "good.png", sample(12, 8, 3, 8));
        std::ofstream(work() / "corrupt.png") << "\x89PNG but then nothing useful";
    }

    // Every file under the working folder, relative to it.
    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(work()))
            if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), work()).string());
        return names;
    }
};

TEST_F(CliResize, HelpExplainsEveryOptionWithExamples) {
    struct Case {
        std::string command;
        std::vector<std::string> mentions;
    };
    const std::vector<Case> cases{
        {"resize", {"--output", "--out-dir", "--scale", "--size", "--width", "--height", "--kernel",
                    "--no-antialias", "--border", "--fill", "--precise", "--linear", "sRGB", "--no-auto-orient",
                    "--strip", "--compression", "--quality", "--jobs", "--module", "axiswarp resize "}},
        {"tables", {"--output", "--scale", "--kernel", "--no-antialias", "--border", "--fill", "N+1", "axiswarp tables "}},
        {"demo", {"--out", "--module", "axiswarp demo"}},
    };
    for (const Case& c : cases) {
        const RunResult r = run({c.command, "--help"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("Examples:"), std::string::npos) << r.out;
        for (const std::string& m : c.mentions) EXPECT_NE(r.out.find(m), std::string::npos) << c.command << ": " << m;
    }
}

TEST_F(CliResize, BadCommandLinesAndFilesGiveStatusTwoAndWriteNothing) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    struct Case {
        std::vector<std::string> args;
        std::string expected;  // in stderr
    };
    const std::vector<Case> cases{
        {{"resize", "missing.png", "--scale", "0.5", "-o", "out.png"}, "missing.png: cannot open"},
        {{"resize", "corrupt.png", "--scale", "0.5", "-o", "out.png"}, "corrupt.png: "},
        {{"resize", "good.png", "--kernel", "bicubic", "--scale", "0.5", "-o", "out.png"}, "unknown kernel 'bicubic'"},
        {{"resize", "good.png", "--border", "periodic", "--scale", "0.5", "-o", "out.png"}, "unknown border mode 'periodic'"},
        {{"resize", "good.png", "--border", "wrap", "--fill", "3", "--scale", "0.5", "-o", "out.png"},
         "--fill applies to --border constant, not to --border wrap"},
        {{"resize", "good.png", "--border", "constant", "--fill", "256", "--scale", "0.5", "-o", "out.png"},
         "the fill 256 is not a value of uint8 samples"},
        {{"resize", "good.png", "--border", "constant", "--fill", "many", "--scale", "0.5", "-o", "out.png"}, "--fill"},
        {{"resize", "good.png", "--size", "0x5", "-o", "out.png"}, "--size: Value"},
        {{"resize", "good.png", "--size", "-3x5", "-o", "out.png"}, "--size: Value"},
        {{"resize", "good.png", "--size", "big", "-o", "out.png"}, "--size: Value"},
        {{"resize", "good.png", "--width", "0", "-o", "out.png"}, "--width: Value"},
        {{"resize", "good.png", "--scale", "0", "-o", "out.png"}, "--scale: expected"},
        {{"resize", "good.png", "--scale", "nan", "-o", "out.png"}, "--scale: expected"},
        {{"resize", "good.png", "--scale", "-2", "-o", "out.png"}, "--scale: expected"},
        {{"resize", "good.png", "--width", "5", "--size", "4x4", "-o", "out.png"}, "only one of"},
        {{"resize", "good.png", "-o", "out.png"}, "give the output size"},
        {{"resize", "good.png", "--scale", "0.5"}, "give the output"},
        {{"resize", "good.png", "--scale", "0.5", "-o", "no/such/folder/out.png"}, "no/such/folder"},
        {{"resize", "good.png", "--scale", "0.5", "-o", "out.gif"}, "the image format '.gif' is not supported; supported: PNG"},
        {{"resize", "good.png", "good.png", "--scale", "0.5", "-o", "out.png"}, "use --out-dir"},
        {{"resize", "good.png", "--scale", "0.5", "-o", "good.png"}, "would replace the input"},
        {{"resize", "good.png", "--scale", "0.5", "--out-dir", "."}, "would replace the input"},
        {{"resize", "good.png", "--scale", "0.5", "--quality", "0", "-o", "out.jpg"}, "--quality"},
        {{"resize", "good.png", "--scale", "0.5", "--jobs", "0", "-o", "out.png"}, "--jobs"},
        {{"resize", "good.png", "--scale", "1e9", "-o", "out.png"}, "good.png: the scale makes the output larger"},
        {{"resize", "good.png", "--scale", "5000", "-o", "out.png"}, "good.png: an output of 60000x40000 pixels exceeds"},
        {{"resize", "good.png", "--scale", "0.5", "--module", "nowhere.zupa64", "-o", "out.png"}, "nowhere.zupa64"},
        {{"tables", "6", "0", "-o", "w.npy", "i.npy"}, "M: Value 0 not in range 1 to 2147483648"},
        {{"tables", "six", "4", "-o", "w.npy", "i.npy"}, "N: Value six not in range"},
        {{"tables", "6", "4", "--kernel", "foo", "-o", "w.npy", "i.npy"}, "unknown kernel 'foo'"},
        {{"tables", "6", "4", "--scale", "-1", "-o", "w.npy", "i.npy"}, "--scale: expected"},
        {{"tables", "6", "4", "--fill", "1", "-o", "w.npy", "i.npy"}, "--fill applies to --border constant"},
        {{"tables", "6", "4", "-o", "w.npy"}, "--output"},
        {{"tables", "6", "4", "-o", "w.npy", "no/such/i.npy"}, "no/such/i.npy"},
    };
    const std::set<std::string> before = files();
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(files(), before);
    }
}

TEST_F(CliResize, AModuleFailureGivesStatusOneAndNoOutput) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    // The echo module hands its input back unresized.
    const RunResult r = run({"resize", "good.png", "--scale", "0.5", "--module", AXISWARP_ECHO_MODULE, "-o", "out.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("good.png: the module returned"), std::string::npos) << r.err;
    EXPECT_EQ(files().count("out.png"), 0u);
}

TEST_F(CliResize, AnExistingOutputIsOnlyReplacedByACompleteNewFile) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    std::ofstream(work() / "out.png") << "previous";
    EXPECT_EQ(run({"resize", "corrupt.png", "--scale", "0.5", "-o", "out.png"}).status, 2);
    EXPECT_EQ(slurp(work() / "out.png"), "previous");
    const RunResult r = run({"resize", "good.png", "--scale", "0.5", "-o", "out.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Image out = readImage(work() / "out.png");
    EXPECT_EQ(out.width, 6u);
    EXPECT_EQ(out.height, 4u);
    EXPECT_EQ(files(), (std::set<std::string>{"good.png", "corrupt.png", "out.png"}));
}

TEST_F(CliResize, ABatchWithBadFilesStillWritesTheOthers) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    writeImage(work() / "second.jpg", sample(10, 20, 3, 8));
    const RunResult r = run({"resize", "good.png", "corrupt.png", "second.jpg", "missing.png", "--height", "4",
                             "--out-dir", "out", "--jobs", "2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("corrupt.png"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing.png"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 of 4 files failed"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(files(), (std::set<std::string>{"good.png", "corrupt.png", "second.jpg", "out/good.png", "out/second.jpg"}));
    EXPECT_EQ(readImage(work() / "out/good.png").width, 6u);  // 12x8 at height 4
    EXPECT_EQ(readImage(work() / "out/second.jpg").width, 2u);  // 10x20 at height 4
}

// Sizes and scales are checked strictly, each refusal naming its option.
TEST_F(CliResize, SizeAndScaleValuesAreCheckedStrictly) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    struct Case {
        std::string option;
        std::vector<std::string> good, bad;
    };
    const std::vector<Case> cases{
        {"--scale", {"0.25", "+3", "1e-2", " 1"}, {"", "0", "-1", "nan", "inf", "1e999", "abc", "0.5x"}},  // CLI11 trims spaces
        {"--width", {"640", "1"}, {"", "0", "-5", "2.5", "2147483648", "12px"}},
        {"--size", {"640x480", "1x1"}, {"", "640", "0x480", "640x0", "-3x5", "640x", "x480", "64x48x3", "axb"}},
    };
    for (const Case& c : cases) {
        for (const std::string& value : c.good) {
            const RunResult r = run({"resize", "good.png", c.option, value, "-o", "ok.png"});
            EXPECT_EQ(r.status, 0) << c.option << " '" << value << "': " << r.err;
        }
        for (const std::string& value : c.bad) {
            const RunResult r = run({"resize", "good.png", c.option, value, "-o", "bad.png"});
            EXPECT_EQ(r.status, 2) << c.option << " '" << value << "'";
            EXPECT_NE(r.err.find(c.option), std::string::npos) << c.option << " '" << value << "': " << r.err;
            EXPECT_FALSE(fs::exists(work() / "bad.png")) << c.option << " '" << value << "'";
        }
    }
}

TEST_F(CliResize, VersionNamesTheReleaseTheCompilerAndTheKernelLevel) {
    const RunResult plain = run({"--version"});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.rfind(std::string("axiswarp ") + AXISWARP_VERSION + "\nbuilt with ", 0), 0u) << plain.out;
    EXPECT_NE(plain.out.find("kernels on this processor: "), std::string::npos) << plain.out;
    // A pinned level is reported as pinned, next to what the processor has;
    // where the plain kernels are all there is, pinning them changes nothing.
    const bool onlyPlain = plain.out.find("kernels on this processor: scalar\n") != std::string::npos ||
                           plain.out.ends_with("kernels on this processor: scalar");
    const RunResult pinned = run({"--version"}, "export AXISWARP_SIMD=scalar");
    EXPECT_NE(pinned.out.find(onlyPlain ? "kernels on this processor: scalar"
                                        : "kernels on this processor: scalar (pinned by AXISWARP_SIMD"),
              std::string::npos)
        << pinned.out;
    EXPECT_EQ(pinned.out.find("pinned") == std::string::npos, onlyPlain) << pinned.out;
}

// One large image, or a batch, on any number of threads gives the bytes of
// one thread: sizes no split divides evenly, shrinking and enlarging.
TEST_F(CliResize, JobsNeverChangeTheOutputBytes) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    writeImage(work() / "big.png", sample(1001, 777, 3, 8));
    writeImage(work() / "deep.png", sample(613, 419, 2, 16));
    struct Case {
        std::vector<std::string> size;
    };
    for (const Case& c : {Case{{"--scale", "0.3"}}, Case{{"--width", "1537"}}, Case{{"--size", "333x1203"}}}) {
        SCOPED_TRACE(c.size[0] + " " + c.size[1]);
        std::string reference;
        for (const std::string jobs : {"1", "2", "3"}) {
            std::vector<std::string> args{"resize", "big.png", "deep.png", c.size[0], c.size[1], "--jobs", jobs,
                                          "--out-dir", "out" + jobs};
            const RunResult r = run(args);
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string bytes = slurp(work() / ("out" + jobs) / "big.png") + slurp(work() / ("out" + jobs) / "deep.png");
            if (jobs == "1") reference = bytes;
            else EXPECT_TRUE(bytes == reference) << "--jobs " << jobs << " changed the output";
        }
        for (const std::string jobs : {"1", "2", "3"}) fs::remove_all(work() / ("out" + jobs));
    }
}

// The command streams each page in bands; its files must be the bytes of
// the whole-image way: the file read whole and turned upright, every page
// resized by resizeImage, and the result written whole. Heights that do not
// divide into bands, both pass orders, the double path (alpha, --precise,
// --linear), a constant fill, stacks, turned orientations and several
// thread counts.
TEST_F(CliResize, StreamedFilesAreTheBytesOfTheWholeImageResize) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    auto withOrientation = [](ImageFile file, int orientation) {
        file.metadata.exif = exifWithOrientation({}, orientation);
        file.metadata.orientation = orientation;
        return file;
    };
    auto single = [](Image image) {
        ImageFile file;
        file.pages.push_back(std::move(image));
        return file;
    };
    ImageFile stack = single(sample(203, 157, 1, 16));
    stack.pages.push_back(sample(203, 157, 1, 16).clone());
    stack.pages.back().set(3, 5, 0, 777);
    stack.metadata.orientation = 3;
    // Four channels of ink, none of them alpha.
    ImageFile cmyk = single(sample(97, 61, 4, 8));
    cmyk.metadata.colour = ColourModel::cmyk;
    struct Case {
        std::string in, out;
        ImageFile file;
        std::vector<std::string> args;
        ResampleOptions options;
        FilterChoice filter;
    };
    FilterChoice lanczos;
    lanczos.kernel = parseKernel("lanczos3");
    FilterChoice filled;
    filled.border = parseBorder("constant");
    filled.fill = 200;
    const std::vector<Case> cases{
        {"rgb.png", "rgb-out.png", single(sample(301, 203, 3, 8)), {"--scale", "0.3"}, {}, {}},
        {"rgba.png", "rgba-out.png", single(sample(157, 311, 4, 16)), {"--size", "80x200"}, {}, {}},
        {"turned.jpg", "turned-out.png", withOrientation(single(sample(211, 97, 3, 8)), 6), {"--width", "50"}, {}, {}},
        {"stack.tif", "stack-out.tif", stack, {"--scale", "0.45", "--precise"}, {.filter = {}, .precise = true}, {}},
        {"gray.png", "gray-out.png", withOrientation(single(sample(67, 45, 1, 8)), 7),
         {"--scale", "2.5", "--linear", "--kernel", "lanczos3"}, {.filter = {}, .precise = false, .linear = true}, lanczos},
        {"ink.tif", "ink-out.tif", cmyk, {"--scale", "0.4"}, {.filter = {}, .precise = false, .linear = false, .noAlpha = true}, {}},
        {"fill.png", "fill-out.jpg", withOrientation(single(sample(120, 131, 3, 8)), 2),
         {"--size", "90x40", "--border", "constant", "--fill", "200"}, {}, filled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in + " -> " + c.out);
        writeImageFile(work() / c.in, c.file);
        // The whole-image way, from the file as written.
        ImageFile whole = readImageFile(work() / c.in);
        ImageFile expected;
        expected.metadata = whole.metadata;
        expected.compression = whole.compression;
        const Image& first = whole.pages.front();
        SizeRequest request;
        const std::string how = c.args[0];
        if (how == "--scale") request.scale = std::stod(c.args[1]);
        if (how == "--width") request = {SizeRequest::Mode::width, 1.0, static_cast<std::uint32_t>(std::stoul(c.args[1])), 0};
        if (how == "--size") {
            const std::size_t x = c.args[1].find('x');
            request = {SizeRequest::Mode::size, 1.0, static_cast<std::uint32_t>(std::stoul(c.args[1].substr(0, x))),
                       static_cast<std::uint32_t>(std::stoul(c.args[1].substr(x + 1)))};
        }
        const ImageSize in{first.width, first.height};
        const ResizePlan plan = planResize(in, targetSize(in, request), c.filter);
        for (const Image& page : whole.pages)
            expected.pages.push_back(resizeImage(axiswarp::testing::builtModule(), page, plan, c.options));
        const std::string bytes = [&] {
            const std::vector<std::byte> encoded = encodeImageFile(expected, imageFormatFor(c.out), c.out);
            return std::string(reinterpret_cast<const char*>(encoded.data()), encoded.size());
        }();
        for (const std::string jobs : {"1", "2", "3"}) {
            std::vector<std::string> args{"resize", c.in, "-o", c.out, "--jobs", jobs};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const RunResult r = run(args);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(slurp(work() / c.out) == bytes) << "--jobs " << jobs;
            fs::remove(work() / c.out);
        }
    }
}

// Refused from the header, before its memory is taken: a job that must hold
// more than it may. A turned orientation holds the output page.
TEST_F(CliResize, AJobThatWouldNotFitItsMemoryIsRefusedBeforeReading) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    ImageFile file;
    file.pages.push_back(sample(300, 200, 3, 8));
    file.metadata.orientation = 6;
    file.metadata.exif = exifWithOrientation({}, 6);
    writeImageFile(work() / "turned.jpg", file);
    RunResult r = run({"resize", "turned.jpg", "--scale", "8", "--max-memory", "4", "-o", "big.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("turned.jpg: resizing it as a stream needs about "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("and only 4.0 MiB is available (--max-memory)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(work() / "big.png"));
    // Upright, the same job streams in far less.
    r = run({"resize", "turned.jpg", "--scale", "8", "--max-memory", "4", "--no-auto-orient", "-o", "big.png"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(CliResize, DepthChannelsAndFormatsAreHandled) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    struct Case {
        Image input;
        std::string inName, outName;
        std::vector<std::string> size;
        std::uint32_t width, height, channels;
        int depth;
        std::string warning;  // expected in stderr, or empty for a silent run
    };
    const std::vector<Case> cases{
        {sample(9, 7, 3, 16), "deep.png", "deep-out.png", {"--scale", "2"}, 18, 14, 3, 16, ""},
        {sample(9, 7, 2, 8), "ga.png", "ga-out.png", {"--width", "3"}, 3, 2, 2, 8, ""},
        {sample(9, 7, 4, 16), "rgba.png", "rgba-out.png", {"--size", "4x5"}, 4, 5, 4, 16, ""},
        {sample(9, 7, 1, 8), "gray.png", "gray-out.png", {"--height", "14", "--precise"}, 18, 14, 1, 8, ""},
        {sample(1, 1, 3, 8), "dot.png", "dot-out.png", {"--scale", "3"}, 3, 3, 3, 8, ""},
        {sample(9, 7, 3, 8), "photo.jpg", "photo-out.png", {"--scale", "0.5"}, 5, 4, 3, 8, ""},
        {sample(9, 7, 4, 8), "alpha.png", "alpha-out.jpg", {"--scale", "0.5"}, 5, 4, 3, 8, "alpha channel dropped"},
        {sample(9, 7, 1, 16), "deepgray.png", "deepgray-out.jpg", {"--scale", "0.5", "--quality", "100"}, 5, 4, 1, 8,
         "16-bit samples reduced to 8 bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inName + " -> " + c.outName);
        writeImage(work() / c.inName, c.input);
        std::vector<std::string> args{"resize", c.inName, "-o", c.outName, "--kernel", "lanczos3"};
        args.insert(args.end(), c.size.begin(), c.size.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.warning.empty()) EXPECT_EQ(r.err, "");
        else EXPECT_NE(r.err.find("warning: " + c.outName + ": " + c.warning), std::string::npos) << r.err;
        const Image out = readImage(work() / c.outName);
        EXPECT_EQ(out.width, c.width);
        EXPECT_EQ(out.height, c.height);
        EXPECT_EQ(out.channels, c.channels);
        EXPECT_EQ(out.bitDepth(), c.depth);
    }
}

// Averaging the codes of a black and a white pixel gives 128; averaging
// their light gives half the light, 188 in sRGB codes.
TEST_F(CliResize, LinearAveragesLightInsteadOfCodes) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    Image pair = Image::blank(2, 1, 3, 8);
    for (std::uint32_t k = 0; k < 3; ++k) pair.set(0, 1, k, 255);
    writeImage(work() / "pair.png", pair);
    for (const auto& [flags, expected] : {std::pair{std::vector<std::string>{}, 128.0},
                                          std::pair{std::vector<std::string>{"--linear"}, 188.0},
                                          std::pair{std::vector<std::string>{"--linear", "--precise"}, 188.0}}) {
        std::vector<std::string> args{"resize", "pair.png", "--size", "1x1", "--kernel", "box", "-o", "one.png"};
        args.insert(args.end(), flags.begin(), flags.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Image one = readImage(work() / "one.png");
        for (std::uint32_t k = 0; k < 3; ++k) EXPECT_EQ(one.at(0, 0, k), expected) << ::testing::PrintToString(flags);
    }
}

TEST_F(CliResize, ConstantBorderBlendsTheFillIntoTheEdges) {
    // One gray pixel of 50 to 2x2 with the triangle kernel: each pass takes
    // 3/4 of the pixel and 1/4 of what lies beyond the edge, rounding after
    // each pass: 50 stays 50 when mirrored; with fill 200, 87.5 -> 88, then
    // 66 + 50 = 116; with fill 0, 37.5 -> 38, then 28.5 -> 29.
    Image one = Image::blank(1, 1, 1, 8);
    one.set(0, 0, 0, 50);
    writeImage(work() / "one.png", one);
    for (const auto& [flags, expected] : {std::pair{std::vector<std::string>{}, 50.0},
                                          std::pair{std::vector<std::string>{"--border", "constant", "--fill", "200"}, 116.0},
                                          std::pair{std::vector<std::string>{"--border", "constant"}, 29.0}}) {
        std::vector<std::string> args{"resize", "one.png", "--size", "2x2", "--kernel", "triangle", "-o", "two.png"};
        args.insert(args.end(), flags.begin(), flags.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Image two = readImage(work() / "two.png");
        for (std::uint32_t i = 0; i < 2; ++i)
            for (std::uint32_t j = 0; j < 2; ++j) EXPECT_EQ(two.at(i, j, 0), expected) << ::testing::PrintToString(flags);
    }
}

TEST_F(CliResize, TablesWritesTheBuilderTablesForCall) {
    const RunResult r = run({"tables", "7", "3", "--kernel", "lanczos3", "--no-antialias", "--border", "replicate",
                             "-o", "w.npy", "i.npy"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Tables expected = buildTables({7, 3, 0.0, {Kernel::lanczos3, false, Border::replicate}});
    for (const auto& [name, values] : {std::pair{"w.npy", &expected.weights}, std::pair{"i.npy", &expected.indices}}) {
        const auto array = readNpy(work() / name);
        EXPECT_EQ(array->classID(), zuDoubleClass);
        EXPECT_EQ(zuhost::extents(*array), (std::vector<std::uint64_t>{expected.taps, 3}));
        EXPECT_EQ(axiswarp::testing::realValues<double>(*array), *values) << name;
    }
    // The border and the fill reach the builder: a fill other than 0 names index N+1.
    for (const auto& [border, fill] : {std::pair{"wrap", ""}, std::pair{"constant", "-3.5"}}) {
        std::vector<std::string> args{"tables", "5", "9", "--border", border, "-o", "w.npy", "i.npy"};
        if (*fill) args.insert(args.end(), {"--fill", fill});
        ASSERT_EQ(run(args).status, 0) << border;
        const Tables want = buildTables({5, 9, 0.0, {Kernel::cubic, true, parseBorder(border), *fill ? -3.5 : 0.0}});
        EXPECT_EQ(axiswarp::testing::realValues<double>(*readNpy(work() / "w.npy")), want.weights) << border;
        EXPECT_EQ(axiswarp::testing::realValues<double>(*readNpy(work() / "i.npy")), want.indices) << border;
        EXPECT_EQ(want.fillSample, *fill != '\0') << border;
    }
    // An explicit scale reaches the builder.
    ASSERT_EQ(run({"tables", "8", "4", "--scale", "0.25", "-o", "w.npy", "i.npy"}).status, 0);
    EXPECT_EQ(axiswarp::testing::realValues<double>(*readNpy(work() / "i.npy")),
              buildTables({8, 4, 0.25, {Kernel::cubic, true, Border::symmetric}}).indices);
}

TEST_F(CliResize, DemoWritesEveryResultAndALabelledContactSheet) {
    const RunResult r = run({"demo", "--out", "d"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> expected{"d/chart.png", "d/star.png", "d/contact-sheet.png"};
    for (std::string_view kernel : kernelNames()) {
        const std::string k(kernel);
        expected.insert({"d/down-" + k + "-aa.png", "d/down-" + k + "-noaa.png", "d/up-" + k + ".png"});
        EXPECT_NE(r.out.find(" " + k + " "), std::string::npos) << r.out;
    }
    std::set<std::string> written = files();
    written.erase("good.png");
    written.erase("corrupt.png");
    EXPECT_EQ(written, expected);
    const Image small = readImage(work() / "d/down-cubic-aa.png");
    EXPECT_EQ(small.width, 128u);
    EXPECT_EQ(small.height, 128u);
    const Image large = readImage(work() / "d/up-lanczos3.png");
    EXPECT_EQ(large.width, 384u);
    EXPECT_GT(readImage(work() / "d/contact-sheet.png").width, 6 * 384u);
}

}  // namespace

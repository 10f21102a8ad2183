// axiswarp resize: resize PNG, JPEG and TIFF files with two module calls per
// page, several files in parallel.
#include "cli/commands.hpp"
#include "cli/border_options.hpp"
#include "cli/option_checks.hpp"

#include "runtime/atomic_file.hpp"
#include "imagefile/icc_profile.hpp"
#include "imagefile/byte_outputs.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/image_io.hpp"
#include "imagefile/image_stream.hpp"
#include "resample/resample_tables.hpp"
#include "resample/resize_pipeline.hpp"
#include "resample/stream_resize.hpp"
#include "runtime/available_memory.hpp"
#include "runtime/tool_error.hpp"
#include "runtime/worker_pool.hpp"

#include <zuhost/standin_host.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

namespace axiswarp::cli {

namespace {

namespace fs = std::filesystem;

struct ResizeOptions {
    std::vector<std::string> inputs;
    std::string output;
    std::string outDir;
    double scale = 0.0;
    std::vector<std::uint32_t> size;  // width, height
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Which of them were given.
    CLI::Option* scaleOption = nullptr;
    CLI::Option* sizeOption = nullptr;
    CLI::Option* widthOption = nullptr;
    CLI::Option* heightOption = nullptr;
    std::string kernel = "cubic";
    std::string border = "symmetric";
    double fill = 0.0;
    CLI::Option* fillOption = nullptr;
    bool noAntialias = false;
    bool precise = false;
    bool linear = false;
    bool strip = false;
    bool noAutoOrient = false;
    bool strict = false;
    std::string compression;  // empty: as the input
    int quality = 90;
    unsigned jobs = 0;  // 0: one per core
    std::string module;
    std::uint64_t maxPixels = tools::kStreamingMaxPixels;
    std::uint64_t maxMemoryMib = 0;  // 0: what the machine has available
};

struct FileJob {
    fs::path input;
    fs::path output;
};

// Messages and the progress line share stderr; the progress line is drawn
// only on a terminal, for a run of several files or of a stack of pages, and
// is cleared before any message is printed.
class Reporter {
public:
    explicit Reporter(std::size_t total)
        : total_(total),
          terminal_(::isatty(STDERR_FILENO) == 1),
          start_(std::chrono::steady_clock::now()) {
        std::lock_guard lock(mutex_);
        draw();
    }

    void message(const std::string& text) {
        std::lock_guard lock(mutex_);
        clear();
        std::cerr << "axiswarp: " << text << '\n';
        draw();
    }

    // A file of `pages` pages is being resized.
    void pagesAhead(std::size_t pages) {
        std::lock_guard lock(mutex_);
        pagesTotal_ += pages;
        draw();
    }

    void pageDone() {
        std::lock_guard lock(mutex_);
        ++pagesDone_;
        draw();
    }

    // Input rows of the files in hand: `rows` more to read.
    void rowsAhead(std::uint64_t rows) {
        std::lock_guard lock(mutex_);
        rowsTotal_ += rows;
    }

    // `rows` more input rows were read. Redrawn at most ten times a second,
    // as this comes once per band.
    void rowsRead(std::uint64_t rows) {
        std::lock_guard lock(mutex_);
        rowsDone_ += rows;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
        draw();
    }

    void fileDone() {
        std::lock_guard lock(mutex_);
        ++done_;
        draw();
    }

    void finish() {
        std::lock_guard lock(mutex_);
        clear();
        terminal_ = false;
    }

private:
    // A run of several files or pages, or one image large enough that its
    // progress is worth showing.
    bool live() const {
        return terminal_ && (total_ > 1 || pagesTotal_ > 1 || rowsTotal_ >= kRowsWorthShowing);
    }
    static constexpr std::uint64_t kRowsWorthShowing = 8192;

    void clear() {
        if (live()) std::cerr << "\r\033[K" << std::flush;
    }

    void draw() {
        if (!live()) return;
        lastDraw_ = std::chrono::steady_clock::now();
        std::string line = "\raxiswarp: " + std::to_string(done_) + " of " +
                           std::to_string(total_) + (total_ == 1 ? " file done" : " files done");
        if (pagesTotal_ > total_)
            line += " (" + std::to_string(pagesDone_) + " of " + std::to_string(pagesTotal_) +
                    " pages so far)";
        // For one file, its rows read measure the work (every page is
        // resized as it is read); for several, the files done.
        const double fraction =
            total_ > 1 ? static_cast<double>(done_) / static_cast<double>(total_)
                       : static_cast<double>(rowsDone_) / static_cast<double>(std::max<std::uint64_t>(1, rowsTotal_));
        if (fraction > 0 && fraction < 1) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
            const double left = elapsed / fraction * (1 - fraction);
            line += ", about " + std::to_string(static_cast<long long>(std::ceil(left))) + " s left";
        }
        std::cerr << line << "\033[K" << std::flush;
    }

    std::mutex mutex_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::size_t pagesTotal_ = 0;
    std::size_t pagesDone_ = 0;
    std::uint64_t rowsTotal_ = 0;
    std::uint64_t rowsDone_ = 0;
    bool terminal_;
    std::chrono::steady_clock::time_point lastDraw_;
    std::chrono::steady_clock::time_point start_;
};

tools::SizeRequest sizeRequest(const ResizeOptions& options) {
    const bool scale = options.scaleOption->count() != 0;
    const bool size = options.sizeOption->count() != 0;
    const bool width = options.widthOption->count() != 0;
    const bool height = options.heightOption->count() != 0;
    const int given = scale + size + (width || height);
    if (given == 0)
        throw tools::ToolError("give the output size: --scale S, --size WxH, --width W or --height H");
    if (given > 1)
        throw tools::ToolError("give only one of --scale, --size and --width/--height");
    using Mode = tools::SizeRequest::Mode;
    tools::SizeRequest request;
    request.scale = options.scale;
    request.width = width ? options.width : 0;
    request.height = height ? options.height : 0;
    if (scale) {
        request.mode = Mode::scale;
    } else if (size) {
        request.mode = Mode::size;
        request.width = options.size[0];
        request.height = options.size[1];
    } else {
        request.mode = width && height ? Mode::size : width ? Mode::width : Mode::height;
    }
    return request;
}

std::vector<FileJob> planFiles(const ResizeOptions& options) {
    if (options.output.empty() && options.outDir.empty())
        throw tools::ToolError("give the output: -o OUT for one input, or --out-dir DIR");
    if (!options.output.empty() && options.inputs.size() > 1)
        throw tools::ToolError("-o names one output file, but " +
                               std::to_string(options.inputs.size()) +
                               " inputs were given; use --out-dir DIR for several");

    std::vector<FileJob> jobs;
    if (!options.output.empty()) {
        tools::imageFormatFor(options.output);
        jobs.push_back({options.inputs.front(), options.output});
    } else {
        const fs::path dir = options.outDir;
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir))
            throw tools::ToolError("cannot create the output folder '" + dir.string() + "'" +
                                   (ec ? ": " + ec.message() : std::string()));
        for (const std::string& input : options.inputs) {
            const fs::path name = fs::path(input).filename();
            if (name.empty())
                throw tools::ToolError("'" + input + "' does not name a file");
            jobs.push_back({input, dir / name});
        }
    }

    std::set<std::string> inputs;
    for (const FileJob& job : jobs) inputs.insert(tools::fileIdentity(job.input));
    std::set<std::string> outputs;
    for (const FileJob& job : jobs) {
        const std::string out = tools::fileIdentity(job.output);
        if (inputs.count(out) != 0)
            throw tools::ToolError("'" + job.output.string() + "' would replace the input '" +
                                   job.input.string() + "'; choose another output");
        if (!outputs.insert(out).second)
            throw tools::ToolError("two inputs would both be written to '" +
                                   job.output.string() + "'");
    }
    return jobs;
}

struct Settings {
    tools::SizeRequest size;
    tools::ResampleOptions resample;
    tools::ImageReadOptions read;
    tools::ImageWriteOptions write;
    bool strip = false;
    std::uint64_t maxMemory = 0;  // bytes; 0: what the machine has available
};

// What to keep of the input's metadata.
tools::ImageMetadata keptMetadata(tools::ImageMetadata metadata, bool strip) {
    if (strip) {
        metadata.iccProfile.clear();
        metadata.exif.clear();
    }
    return metadata;
}

// The exit status for one file. Each page streams from the reader through
// the two passes to the writer, a band of rows at a time, so memory depends
// on the width and the taps, not on the height; the output file appears
// only once its last row is written.
int resizeFile(const zuhost::Module& module, const FileJob& job, const Settings& settings,
               Reporter& reporter, tools::WorkerPool& pool) {
    const std::string input = job.input.string();
    const std::string output = job.output.string();
    try {
        const tools::ImageFormat outFormat = tools::imageFormatFor(job.output);
        std::unique_ptr<tools::ImageReader> reader;
        try {
            reader = tools::openImageReader({job.input, {}, input}, settings.read);
        } catch (const tools::LimitError& error) {
            if (error.kind() != tools::LimitError::Kind::imagePixels) throw;
            throw tools::ToolError(std::string(error.what()) + " (raise it with --max-pixels)");
        }
        const tools::StreamInfo& info = reader->info();
        const tools::PageLayout& page = info.page;
        // Refused before any work: what the output's format cannot hold.
        tools::checkEncodable(outFormat, page.type, info.pages, output);

        // An orientation outside 1..8 says nothing; the image is taken as
        // stored.
        const int stored = info.metadata.orientation;
        const int orientation = settings.read.autoOrient && stored >= 1 && stored <= 8 ? stored : 1;
        const bool turned = orientation >= 5;
        tools::ResizePlan plan;
        try {
            const tools::ImageSize in{turned ? page.height : page.width, turned ? page.width : page.height};
            // Upright or mirrored left-right, the height pass goes along the
            // stored rows unreversed, and its tables are made a group of
            // output rows at a time: memory then does not grow with the
            // height at all.
            plan = tools::planResize(in, tools::targetSize(in, settings.size), settings.resample.filter,
                                     /*heightOnDemand=*/orientation <= 2);
        } catch (const tools::ToolError& error) {
            throw tools::ToolError(input + ": " + error.what());
        }
        if (settings.resample.linear && tools::isCmyk(info.metadata.colour))
            throw tools::ToolError(input + ": the image is CMYK, and --linear decodes the samples as sRGB");
        if (settings.resample.linear && !info.metadata.iccProfile.empty() &&
            !tools::isSrgbProfile(info.metadata.iccProfile)) {
            const std::optional<std::string> name = tools::iccDescription(info.metadata.iccProfile);
            reporter.message("warning: " + input + ": its colour profile" +
                             (name ? " '" + *name + "'" : std::string()) +
                             " is not sRGB, and --linear decodes the samples as sRGB");
        }

        tools::StreamInfo out;
        out.format = outFormat;
        out.page = {plan.out.width, plan.out.height, page.channels, page.type};
        out.pages = info.pages;
        out.metadata = keptMetadata(info.metadata, settings.strip);
        // Applied, the orientation is 1 (the writer makes the EXIF block
        // agree); kept, it stays as stored.
        if (settings.read.autoOrient) out.metadata.orientation = 1;
        out.compression = info.compression;

        tools::AtomicFile target(job.output);
        tools::AtomicFileOutput bytes(target);
        tools::ImageWriteOptions write = settings.write;
        write.warning = [&reporter](const std::string& text) { reporter.message("warning: " + text); };
        const std::unique_ptr<tools::ImageWriter> writer =
            tools::openImageWriter(outFormat, bytes, out, output, write);

        // CMYK's fourth channel is ink, not coverage: every channel is colour.
        tools::ResampleOptions resample = settings.resample;
        resample.noAlpha = tools::isCmyk(info.metadata.colour);
        const tools::PageShape shape{page.width, page.height, page.channels, page.type};
        const std::uint32_t bandRows = tools::streamBandRows(shape, info.bandRows);
        const std::uint64_t budget = settings.maxMemory != 0 ? settings.maxMemory : tools::availableMemoryBytes();
        reporter.pagesAhead(info.pages);
        reporter.rowsAhead(std::uint64_t{page.height} * info.pages);
        for (std::uint32_t p = 0; p < info.pages; ++p) {
            if (p > 0) {
                reader->nextPage();
                writer->nextPage();
            }
            const std::string where = input + (info.pages > 1 ? " (page " + std::to_string(p + 1) + ")" : "");
            try {
                tools::resizeStream(
                    module, shape, orientation, plan, resample, &pool, bandRows,
                    [&](unsigned char* band, std::uint32_t rows) {
                        reader->readRows(band, rows);
                        reporter.rowsRead(rows);
                    },
                    [&](const unsigned char* band, std::uint32_t rows) { writer->writeRows(band, rows); },
                    budget);
            } catch (const zuhost::HostError& error) {
                reporter.message(where + ": " + error.what());
                return kExitModuleError;
            } catch (const tools::MemoryBudgetError& error) {
                throw tools::ToolError(where + ": " + error.what() +
                                       (settings.maxMemory != 0 ? " (--max-memory)" : ""));
            } catch (const tools::ToolError& error) {
                // The codecs' messages name the input already.
                const std::string text = error.what();
                throw tools::ToolError(text.rfind(input, 0) == 0 ? text : where + ": " + text);
            }
            reporter.pageDone();
        }
        writer->finish();
        bytes.flush();
        target.commit();
        return kExitOk;
    } catch (const std::bad_alloc&) {
        reporter.message(input + ": out of memory");
    } catch (const zuhost::HostError& error) {
        reporter.message(input + ": " + error.message());
    } catch (const std::exception& error) {
        reporter.message(error.what());
    }
    return kExitUsage;
}

void runResize(const ResizeOptions& options) {
    Settings settings;
    settings.size = sizeRequest(options);
    settings.resample.filter.kernel = tools::parseKernel(options.kernel);
    settings.resample.filter.border = tools::parseBorder(options.border);
    settings.resample.filter.fill = fillValue(options.fillOption, options.fill, settings.resample.filter.border);
    settings.resample.filter.antialias = !options.noAntialias;
    settings.resample.precise = options.precise;
    settings.resample.linear = options.linear;
    settings.strip = options.strip;
    settings.write.jpegQuality = options.quality;
    if (!options.compression.empty())
        settings.write.tiffCompression = tools::parseTiffCompression(options.compression);
    settings.read.maxPixels = options.maxPixels;
    settings.maxMemory = options.maxMemoryMib * (std::uint64_t{1} << 20);
    settings.read.autoOrient = !options.noAutoOrient;
    settings.read.strict = options.strict;
    const std::vector<FileJob> jobs = planFiles(options);

    const zuhost::Module module(options.module.empty() ? defaultModulePath().string()
                                                       : options.module);

    // --jobs threads for the whole run: they take whole files while there are
    // files left to start, and parts of the images in hand otherwise.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    tools::WorkerPool pool(options.jobs == 0 ? cores : options.jobs);
    std::vector<int> status(jobs.size(), kExitOk);
    Reporter reporter(jobs.size());
    pool.run(jobs.size(), [&](std::size_t k) {
        status[k] = resizeFile(module, jobs[k], settings, reporter, pool);
        reporter.fileDone();
    });
    reporter.finish();

    const std::size_t failed =
        static_cast<std::size_t>(std::count_if(status.begin(), status.end(), [](int s) { return s != kExitOk; }));
    if (failed == 0) return;
    if (jobs.size() > 1)
        std::cerr << "axiswarp: " << failed << " of " << jobs.size() << " files failed\n";
    // Input and output problems outrank module errors.
    throw Exit{*std::max_element(status.begin(), status.end())};
}

}  // namespace

void registerResizeCommand(CLI::App& app) {
    auto options = std::make_shared<ResizeOptions>();
    CLI::App* resize = app.add_subcommand(
        "resize", "Resize PNG, JPEG, TIFF, WebP, HEIF and AVIF images: two module passes per page, streamed in bands, files in parallel.");
    resize->add_option("IN", options->inputs, "Input images (PNG, JPEG, TIFF, WebP, HEIF, AVIF)")
        ->type_name("FILE")
        ->required();

    CLI::Option* output = resize->add_option(
        "-o,--output", options->output,
        "Output file for a single input; its extension (.png, .jpg, .jpeg, .tif, .tiff, .webp, .heic, .heif, .avif) chooses the format")
        ->type_name("OUT");
    CLI::Option* outDir = resize->add_option(
        "--out-dir", options->outDir,
        "Folder for the outputs, each under its input's file name (created if missing)")
        ->type_name("DIR");
    output->excludes(outDir);

    options->scaleOption =
        resize->add_option("--scale", options->scale,
                           "Multiply both lengths by S: each becomes round(n*S), at least 1")
            ->type_name("S")
            ->check(positiveFiniteScale())
            ->group("Output size (give one)");
    options->sizeOption =
        resize->add_option("--size", options->size, "Exact output size WIDTHxHEIGHT, e.g. 640x480")
            ->type_name("WxH")
            ->delimiter('x')
            ->expected(2)
            ->check(imageLength())
            ->group("Output size (give one)");
    options->widthOption =
        resize->add_option("--width", options->width,
                           "Output width; alone, the height follows the aspect ratio")
            ->type_name("W")
            ->check(imageLength())
            ->group("Output size (give one)");
    options->heightOption =
        resize->add_option("--height", options->height,
                           "Output height; alone, the width follows the aspect ratio")
            ->type_name("H")
            ->check(imageLength())
            ->group("Output size (give one)");

    resize->add_option("--kernel", options->kernel,
                       "Interpolation kernel: nearest, box, triangle, cubic, lanczos2, lanczos3")
        ->type_name("K")
        ->capture_default_str();
    resize->add_flag("--no-antialias", options->noAntialias,
                     "When shrinking, do not widen the kernel (faster, but fine detail aliases)");
    resize->add_option("--border", options->border, kBorderHelp)
        ->type_name("B")
        ->capture_default_str();
    options->fillOption = resize->add_option("--fill", options->fill, kFillResizeHelp)
                              ->type_name("V");
    resize->add_flag("--precise", options->precise,
                     "Resample in double and round once at the end (always so for images with "
                     "alpha); by default each pass rounds to the image's own class");
    resize->add_flag("--linear", options->linear,
                     "Resample in linear light: decode the sRGB curve, resize in double, encode "
                     "once. Keeps fine detail from darkening. Assumes the samples are sRGB "
                     "(warns when the file's colour profile is another)");
    resize->add_flag("--no-auto-orient", options->noAutoOrient,
                     "Keep the stored orientation; by default the EXIF (or TIFF) orientation "
                     "is applied, so that the output is upright and says orientation 1");
    resize->add_flag("--strict", options->strict,
                     "Refuse damaged input files the decoder can read past (a JPEG with stray "
                     "bytes); by default they are read with a warning. Truncated files are "
                     "refused either way");
    resize->add_flag("--strip", options->strip,
                     "Drop the colour profile and EXIF; by default both are kept, byte for byte");
    resize->add_option("--compression", options->compression,
                       "Compression of TIFF outputs: none, lzw, deflate or jpeg (lossy, at --quality; "
                       "8-bit pages without alpha) (default: the input's, none for PNG and JPEG inputs)")
        ->type_name("C")
        ->check(CLI::IsMember({"none", "lzw", "deflate", "jpeg"}));
    resize->add_option("--quality", options->quality, "JPEG quality of JPEG outputs, 1 to 100")
        ->type_name("Q")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    resize->add_option("--max-pixels", options->maxPixels,
                       "Refuse an input image of more than N pixels (width times height, per page), "
                       "judged from its header before any decoding. Images stream through in bands, "
                       "so memory does not limit their height; this bounds the time a tiny file can "
                       "ask for (beyond 2^28 pixels a file must also hold a byte per 65536 pixels)")
        ->type_name("N")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    resize->add_option("--max-memory", options->maxMemoryMib,
                       "Refuse, before reading its pixels, an image whose resize would hold more than "
                       "MIB mebibytes (default: the memory the machine has available). Most jobs hold "
                       "a few bands of rows; a turned orientation (EXIF 3 to 8) holds the output page, "
                       "a wrapping border the whole input")
        ->type_name("MIB")
        ->check(CLI::PositiveNumber);
    resize->add_option("-j,--jobs", options->jobs,
                       "Worker threads for the whole run, shared between files and the parts "
                       "of each large image (default: one per core)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    resize->add_option("--module", options->module,
                       "Module file to load (default: the module this build made)")
        ->type_name("FILE");
    resize->footer(
        "Each page is resized by two passes of the module, one per dimension, the one that\n"
        "shrinks most (or grows least) first, in the image's own sample type. Pages stream\n"
        "through in bands of rows: decoding, the passes and encoding overlap on the --jobs\n"
        "threads, and memory depends on the width, not the height.\n"
        "\n"
        "Formats (inputs are recognised by content, outputs by extension):\n"
        "  PNG   8 and 16 bits; gray, gray+alpha, RGB, RGBA (palette and low depths read as 8-bit)\n"
        "  JPEG  8-bit gray, RGB and CMYK; an output drops alpha and reduces 16 bits, with a warning;\n"
        "        damaged but readable files decode with a warning (--strict refuses them)\n"
        "  TIFF  8/16/32-bit unsigned and signed integers, float32, float64; 1 to 4 channels;\n"
        "        CMYK; bilevel, 2/4/12-bit and palette read as 8/16-bit; strips or tiles; none, LZW,\n"
        "        Deflate, JPEG, CCITT fax; multi-page stacks, every page resized alike (overviews dropped)\n"
        "  WebP, HEIF, AVIF  8-bit RGB and RGBA (an output whose encoder is missing is refused)\n"
        "Colour is resampled premultiplied by alpha, so fully transparent pixels never darken\n"
        "their neighbours. The EXIF or TIFF orientation is applied (the output is upright),\n"
        "and ICC profiles and EXIF are kept byte for byte, unless told otherwise.\n"
        "\n"
        "Outputs appear whole or not at all. A file that fails is reported and skipped; the\n"
        "others are still resized. Ctrl-C keeps the outputs already finished and leaves nothing\n"
        "of the others. Exit status: 0 when all succeeded, 1 when the module failed on a file,\n"
        "2 for a bad command line or an unreadable or unwritable file, 130 after Ctrl-C.\n"
        "\n"
        "Examples:\n"
        "  axiswarp resize photo.jpg --scale 0.25 -o small.jpg\n"
        "  axiswarp resize photo.png --width 800 --kernel lanczos3 -o photo-800.png\n"
        "  axiswarp resize logo.png --size 64x64 -o icon.png\n"
        "  axiswarp resize shots/*.png --height 240 --out-dir thumbs --jobs 4\n"
        "  axiswarp resize scan.png --scale 3 --kernel nearest -o pixels.png\n"
        "  axiswarp resize art.png --scale 0.5 --precise -o art-half.jpg --quality 95\n"
        "  axiswarp resize stack.tif --scale 0.5 --compression deflate -o half.tif\n"
        "  axiswarp resize detail.png --scale 0.25 --linear -o quarter.png");
    resize->callback([options] { runResize(*options); });
}

}  // namespace axiswarp::cli

// Hostile input files and unusable outputs, through the built `axiswarp`
// binary. Every refusal must exit with status 2 and one line naming the file
// and the problem, and must leave the working folder exactly as it was: no
// output created, a previous output and the inputs unchanged byte for byte.
//
// Outside sanitizer builds the tool runs under a 512 MiB address-space limit,
// several times what it needs for these small files, so a refusal that came
// only after a huge allocation shows up as an out-of-memory message instead
// of the expected one.
#include "imagefile/image_io.hpp"
#include "npy/npy_io.hpp"

#include "cli_sandbox.hpp"
#include "skip_without_threads.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace axiswarp::tools;
using Bytes = std::vector<std::byte>;

#if defined(AXISWARP_SANITIZED)
constexpr bool kMemoryLimit = false;  // the sanitizer runtime reserves terabytes of address space
#elif defined(AXISWARP_EMULATED)
constexpr bool kMemoryLimit = false;  // the emulator reserves the guest's address space up front
#else
constexpr bool kMemoryLimit = true;
#endif
constexpr const char* kAddressSpaceKiB = "524288";

using axiswarp::testing::RunResult;
using axiswarp::testing::shellQuote;

Bytes slurp(const fs::path& path) {
    const std::string text = axiswarp::testing::readFileText(path);
    const auto* bytes = reinterpret_cast<const std::byte*>(text.data());
    return Bytes(bytes, bytes + text.size());
}

void put(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes text(const std::string& s) {
    const auto* bytes = reinterpret_cast<const std::byte*>(s.data());
    return Bytes(bytes, bytes + s.size());
}

// A version 1.0 .npy file with the given header dictionary and data.
Bytes npy(const std::string& dict, std::size_t dataBytes) {
    std::string header = dict;
    while ((10 + header.size() + 1) % 64 != 0) header.push_back(' ');
    header.push_back('\n');
    std::string file = "\x93NUMPY\x01";
    file.push_back('\0');
    file.push_back(static_cast<char>(header.size() & 0xFF));
    file.push_back(static_cast<char>(header.size() >> 8));
    file += header;
    file.append(dataBytes, '\x01');
    return text(file);
}

Bytes npyShape(const std::string& descr, const std::string& shape, std::size_t dataBytes) {
    return npy("{'descr': " + descr + ", 'fortran_order': False, 'shape': " + shape + ", }", dataBytes);
}

Image pattern(std::uint32_t w, std::uint32_t h, std::uint32_t c) {
    Image img = Image::blank(w, h, c, 8);
    for (std::uint32_t k = 0; k < c; ++k)
        for (std::uint32_t j = 0; j < w; ++j)
            for (std::uint32_t i = 0; i < h; ++i) img.set(i, j, k, (i * 37 + j * 11 + k * 71) % 256);
    return img;
}

void putBigEndian32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) bytes[at + b] = std::byte(static_cast<unsigned char>(value >> (24 - 8 * b)));
}

// A small real PNG whose IHDR claims another size (and optionally another
// depth and colour type), with a correct CRC so that only the size is wrong.
Bytes pngClaiming(std::uint32_t width, std::uint32_t height, int depth = 8, int colorType = 2) {
    Bytes png = encodePng(pattern(4, 4, 3), "p");
    putBigEndian32(png, 16, width);
    putBigEndian32(png, 20, height);
    png[24] = std::byte(static_cast<unsigned char>(depth));
    png[25] = std::byte(static_cast<unsigned char>(colorType));
    putBigEndian32(png, 29, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17)));
    return png;
}

// A small real baseline JPEG whose frame header claims another size.
Bytes jpegClaiming(std::uint16_t width, std::uint16_t height) {
    Bytes jpg = encodeJpeg(pattern(16, 16, 3), "j");
    std::size_t sof = 2;
    while (sof + 9 < jpg.size() && !(jpg[sof] == std::byte{0xff} && jpg[sof + 1] == std::byte{0xc0})) ++sof;
    EXPECT_LT(sof + 9, jpg.size()) << "no baseline frame header";
    jpg[sof + 5] = std::byte(static_cast<unsigned char>(height >> 8));
    jpg[sof + 6] = std::byte(static_cast<unsigned char>(height & 0xff));
    jpg[sof + 7] = std::byte(static_cast<unsigned char>(width >> 8));
    jpg[sof + 8] = std::byte(static_cast<unsigned char>(width & 0xff));
    return jpg;
}

Bytes firstHalf(const Bytes& bytes) { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2)); }

class HostileFiles : public axiswarp::testing::CliSandbox {
protected:
    void SetUp() override {
        CliSandbox::SetUp();
        fs::create_directories(work() / "folder");
        writeImage(work() / "good.png", pattern(12, 8, 3));
        zuhost::ArrayPtr array = zuhost::createArray(zuUint16Class, {3, 5});
        std::memset(array->realData, 7, 30);
        writeNpy(work() / "good.npy", *array);
        std::ofstream(work() / "plain.txt") << "a file, not a folder";
    }

    RunResult run(const std::vector<std::string>& args) const {
        return CliSandbox::run(args, kMemoryLimit ? std::string("ulimit -v ") + kAddressSpaceKiB : "");
    }

    // Every regular file and FIFO under the working folder with its bytes.
    std::map<std::string, Bytes> snapshot() const {
        std::map<std::string, Bytes> files;
        for (const auto& entry : fs::recursive_directory_iterator(work())) {
            const std::string name = fs::relative(entry.path(), work()).string();
            if (entry.is_symlink()) files[name] = text("-> " + fs::read_symlink(entry.path()).string());
            else if (entry.is_regular_file() && entry.file_size() > (1u << 20)) files[name] = text("(large) " + std::to_string(entry.file_size()));
            else if (entry.is_regular_file()) files[name] = slurp(entry.path());
            else files[name] = text(entry.is_directory() ? "(folder)" : "(special)");
        }
        return files;
    }

    // Runs a command that must be refused, and checks what it left behind.
    void expectRefused(const std::vector<std::string>& args, const std::vector<std::string>& mentions) const {
        SCOPED_TRACE(::testing::PrintToString(args));
        const std::map<std::string, Bytes> before = snapshot();
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string& m : mentions) EXPECT_NE(r.err.find(m), std::string::npos) << "want '" << m << "' in: " << r.err;
        EXPECT_EQ(snapshot(), before);
    }
};

struct InputCase {
    std::string file;
    std::function<void(const fs::path&)> make;
    std::string problem;
};

std::function<void(const fs::path&)> bytesOf(Bytes bytes) {
    return [bytes](const fs::path& p) { put(p, bytes); };
}

// `head`, then a hole of `holeBytes`.
std::function<void(const fs::path&)> sparse(Bytes head, std::uint64_t holeBytes) {
    return [head, holeBytes](const fs::path& p) {
        put(p, head);
        fs::resize_file(p, head.size() + holeBytes);
    };
}

void makeFifo(const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }
void makeFolder(const fs::path& p) { fs::create_directory(p); }

TEST_F(HostileFiles, DamagedNpyInputsAreRefusedAndNothingIsWritten) {
    const Bytes good = slurp(work() / "good.npy");
    const std::string limit = "more than the limit of 4294967296 (raise it with --max-input-bytes)";
    const std::vector<InputCase> cases{
        {"truncated.npy", bytesOf(npyShape("'<f8'", "(10,)", 16)), "truncated .npy file: the header declares 80 bytes"},
        {"cut-header.npy", bytesOf(Bytes(good.begin(), good.begin() + 30)), "runs past the end"},
        {"huge-shape.npy", bytesOf(npyShape("'<f8'", "(100000000000, 100000)", 8)), "declares 80000000000000000 bytes"},
        {"negative.npy", bytesOf(npyShape("'<f8'", "(-3, 2)", 0)), "negative extent -3"},
        {"count-overflow.npy", bytesOf(npyShape("'<f8'", "(4294967296, 4294967296, 2)", 0)), "more elements than can be counted"},
        {"size-overflow.npy", bytesOf(npyShape("'<c16'", "(1152921504606846976,)", 0)), "data size of 'shape' overflows"},
        {"magic.npy", bytesOf(encodePng(pattern(2, 2, 1), "m")), "not a NumPy .npy file"},
        {"empty.npy", bytesOf({}), "not a NumPy .npy file"},
        {"half.npy", bytesOf(npyShape("'<f2'", "(4,)", 8)), "unsupported dtype <f2"},
        {"objects.npy", bytesOf(npyShape("'|O'", "(1,)", 8)), "unsupported dtype |O"},
        // Sparse: the file really is as large as its header says.
        {"sparse.npy", sparse(npyShape("'|u1'", "(8589934592,)", 0), std::uint64_t{1} << 33),
         "the data is 8589934592 bytes, " + limit},
        {"fifo.npy", makeFifo, "is not a regular file"},
        {"folder.npy", makeFolder, "is a folder"},
    };
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.file);
        c.make(work() / c.file);
        expectRefused({"call", c.file, "2", "-o", "out.npy"}, {c.file + ": ", c.problem});
        put(work() / "out.npy", text("previous"));
        expectRefused({"call", "--module", AXISWARP_ECHO_MODULE, c.file, "-o", "out.npy"}, {c.file + ": ", c.problem});
        fs::remove_all(work() / c.file);
        fs::remove(work() / "out.npy");
    }
}

TEST_F(HostileFiles, DamagedAndOversizedImagesAreRefusedAndNothingIsWritten) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    const Bytes png = slurp(work() / "good.png");
    const Bytes jpg = encodeJpeg(pattern(40, 30, 3), "j");
    const std::string perByte = " pixels from a file of ";
    const std::string pixelLimit = " pixels, more than the limit of 4294967296 (raise it with --max-pixels)";
    const std::vector<InputCase> cases{
        {"truncated.png", bytesOf(firstHalf(png)), "the file is truncated"},
        {"truncated.jpg", bytesOf(firstHalf(jpg)), "invalid JPEG data"},
        // Decompression bombs: refused from the header alone, for their
        // pixels per byte of file, or beyond the pixel limit for their size.
        {"bomb.png", bytesOf(pngClaiming(65536, 65536)), "the image is 65536x65536 = 4294967296" + perByte},
        {"bomb.jpg", bytesOf(jpegClaiming(65500, 65500)), "the image is 65500x65500 = 4290250000" + perByte},
        {"huge.png", bytesOf(pngClaiming(70000, 70000)), "the image is 70000x70000 = 4900000000" + pixelLimit},
        // Within the pixel limit, but far larger than the file's data.
        {"lying.png", bytesOf(pngClaiming(16000, 16000, 16, 6)), "too small to hold the 16000x16000 image"},
        {"lying.jpg", bytesOf(jpegClaiming(16000, 16000)), "invalid JPEG data"},
        {"zero-width.png", bytesOf(pngClaiming(0, 4)), "invalid PNG data"},
        {"too-wide.png", bytesOf(pngClaiming(0x80000000u, 4)), "invalid PNG data"},
        {"zero-height.jpg", bytesOf(jpegClaiming(16, 0)), "invalid JPEG data"},
        {"bad-depth.png", bytesOf(pngClaiming(4, 4, 7)), "invalid PNG data"},
        {"magic.png", bytesOf(text("GIF89a, not a PNG")), "is a GIF file, which is not supported"},
#if AXISWARP_HAVE_WEBP
        {"cut.webp", bytesOf(text(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16))), "invalid WebP data: the file is truncated"},
#else
        {"anim.webp", bytesOf(text(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16))), "is a WebP file, which is not supported"},
#endif
        {"noise.png", bytesOf(text("\x89PNX not quite")), "not an image file the tool reads"},
        {"empty.png", bytesOf({}), "the file is empty"},
        {"sparse.png", sparse(png, (std::uint64_t{5} << 30) - png.size()), "the file has 5368709120 bytes, more than the limit of 4294967296"},
        {"fifo.png", makeFifo, "is not a regular file"},
        {"folder.png", makeFolder, "is a folder"},
    };
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.file);
        c.make(work() / c.file);
        expectRefused({"resize", c.file, "--scale", "0.5", "-o", "out.png"}, {c.file, c.problem});
        put(work() / "out.png", text("previous"));
        expectRefused({"resize", c.file, "--scale", "0.5", "-o", "out.png"}, {c.file, c.problem});
        fs::remove_all(work() / c.file);
        fs::remove(work() / "out.png");
    }
}

TEST_F(HostileFiles, OutputsThatCannotOrMustNotBeWrittenAreRefused) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    // The module copy is an input too; the echo module would let a call that
    // wrongly went ahead succeed.
    fs::copy_file(AXISWARP_ECHO_MODULE, work() / "echo.zupa64");
    fs::create_hard_link(work() / "good.npy", work() / "hard.npy");
    fs::create_symlink("good.npy", work() / "soft.npy");
    fs::create_hard_link(work() / "good.png", work() / "hard.png");
    std::ofstream(work() / "w.npy") << "previous weights";
    fs::create_hard_link(work() / "w.npy", work() / "w-link.npy");
    const std::string echo = "./echo.zupa64";
    const std::string replace = "would replace the input";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> mentions;
    };
    const std::vector<Case> cases{
        {{"call", "--module", echo, "good.npy", "-o", "plain.txt/out.npy"}, {"plain.txt/out.npy", "'plain.txt' is not a folder"}},
        {{"call", "--module", echo, "good.npy", "-o", "folder"}, {"'folder'", "the target is a folder"}},
        {{"call", "--module", echo, "good.npy", "-o", "./good.npy"}, {"'./good.npy' " + replace + " 'good.npy'"}},
        {{"call", "--module", echo, "good.npy", "-o", "../work/good.npy"}, {"'../work/good.npy' " + replace}},
        {{"call", "--module", echo, "good.npy", "-o", "hard.npy"}, {"'hard.npy' " + replace + " 'good.npy'"}},
        {{"call", "--module", echo, "good.npy", "-o", "soft.npy"}, {"'soft.npy' " + replace}},
        {{"call", "--module", echo, "good.npy", "-o", "echo.zupa64"}, {"'echo.zupa64' " + replace + " './echo.zupa64'"}},
        {{"resize", "good.png", "--scale", "0.5", "-o", "plain.txt/out.png"}, {"plain.txt/out.png", "is not a folder"}},
        {{"resize", "good.png", "--scale", "0.5", "--out-dir", "plain.txt"}, {"'plain.txt'", "cannot create the output folder"}},
        {{"resize", "good.png", "--scale", "0.5", "-o", "hard.png"}, {"'hard.png' " + replace + " 'good.png'"}},
        {{"resize", "good.png", "--scale", "0.5", "-o", "../work/good.png"}, {"'../work/good.png' " + replace}},
        {{"resize", "hard.png", "--scale", "0.5", "--out-dir", "../work"}, {replace + " 'hard.png'"}},
        {{"tables", "6", "4", "-o", "w.npy", "./w.npy"}, {"'w.npy' and './w.npy' are the same file"}},
        {{"tables", "6", "4", "-o", "w.npy", "w-link.npy"}, {"'w.npy' and 'w-link.npy' are the same file"}},
        {{"tables", "6", "4", "-o", "plain.txt/w.npy", "i.npy"}, {"plain.txt/w.npy", "is not a folder"}},
        {{"tables", "6", "4", "-o", "w.npy", "folder"}, {"'folder'", "the target is a folder"}},
    };
    for (const Case& c : cases) expectRefused(c.args, c.mentions);
}

TEST_F(HostileFiles, AFolderWithoutWritePermissionGetsNoFile) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, which may write into any folder";
    fs::create_directory(work() / "locked");
    fs::permissions(work() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    expectRefused({"call", "--module", AXISWARP_ECHO_MODULE, "good.npy", "-o", "locked/out.npy"},
                  {"locked/out.npy", "permission denied"});
    expectRefused({"resize", "good.png", "--scale", "0.5", "-o", "locked/out.png"}, {"locked/out.png", "permission denied"});
    expectRefused({"tables", "6", "4", "-o", "w.npy", "locked/i.npy"}, {"locked/i.npy", "permission denied"});
}

// The limits refuse at the stated size and not one below, and can be raised.
TEST_F(HostileFiles, SizeLimitsCanBeRaised) {
    AXISWARP_SKIP_WITHOUT_THREADS();  // the tool's resize starts its worker threads
    // good.png is 12x8 = 96 pixels; good.npy holds 15 uint16, 30 bytes.
    expectRefused({"resize", "good.png", "--scale", "0.5", "--max-pixels", "95", "-o", "out.png"},
                  {"good.png: the image is 12x8 = 96 pixels, more than the limit of 95 (raise it with --max-pixels)"});
    expectRefused({"call", "--module", AXISWARP_ECHO_MODULE, "--max-input-bytes", "29", "good.npy", "-o", "out.npy"},
                  {"good.npy: the data is 30 bytes, more than the limit of 29 (raise it with --max-input-bytes)"});
    RunResult r = run({"resize", "good.png", "--scale", "0.5", "--max-pixels", "96", "-o", "out.png"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readImage(work() / "out.png").width, 6u);
    r = run({"call", "--module", AXISWARP_ECHO_MODULE, "--max-input-bytes", "30", "good.npy", "-o", "out.npy"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(work() / "out.npy"), slurp(work() / "good.npy"));
    // Help shows both options with their defaults.
    const fs::path help = root() / "help.txt";
    for (const auto& [command, option] : {std::pair{"resize", "--max-pixels N:POSITIVE=4294967296"},
                                          std::pair{"call", "--max-input-bytes N:POSITIVE=4294967296"}}) {
        const std::string shell = axiswarp::testing::toolCommand() + " " + command + " --help >" + shellQuote(help.string());
        EXPECT_EQ(std::system(shell.c_str()), 0);
        const Bytes out = slurp(help);
        EXPECT_NE(std::string(reinterpret_cast<const char*>(out.data()), out.size()).find(option), std::string::npos) << option;
    }
}

// Shows that the address-space limit the other tests run under is real: an
// honest input that needs 1 GiB fails with it, while ordinary work fits.
TEST_F(HostileFiles, TheMemoryLimitOfTheseTestsBites) {
    if (!kMemoryLimit) GTEST_SKIP() << "no address-space limit under the sanitizers or an emulator";
    sparse(npyShape("'|u1'", "(1073741824,)", 0), std::uint64_t{1} << 30)(work() / "one-gib.npy");
    expectRefused({"call", "--module", AXISWARP_ECHO_MODULE, "one-gib.npy", "-o", "out.npy"},
                  {"one-gib.npy: cannot hold the array"});
    EXPECT_EQ(run({"resize", "good.png", "--scale", "2", "-o", "big.png"}).status, 0);
    EXPECT_EQ(run({"call", "--module", AXISWARP_ECHO_MODULE, "good.npy", "-o", "out.npy"}).status, 0);
}

}  // namespace

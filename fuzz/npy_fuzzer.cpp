// Fuzz target: the .npy reader on arbitrary bytes.
//
// Every input must either be refused with the reader's own ToolError or give
// an array that agrees with the parsed header and survives a round trip
// through the writer bit for bit: same class, complexity and extents, same
// bytes in both parts. Whatever happens, no host array or block may outlive
// the input. Any other exception escapes and counts as a crash.
#include <zuhost/standin_host.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "npy/npy_header.hpp"
#include "npy/npy_io.hpp"
#include "runtime/tool_error.hpp"

namespace {

using axiswarp::tools::ToolError;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "npy fuzzer: %s\n", what);
    std::abort();
}

bool samePart(const void* a, const void* b, std::size_t bytes) {
    if ((a == nullptr) != (b == nullptr)) return false;
    return a == nullptr || bytes == 0 || std::memcmp(a, b, bytes) == 0;
}

void checkDecoded(std::span<const std::byte> file, const zuArray& array) {
    const axiswarp::tools::NpyHeader header = axiswarp::tools::parseNpyHeader(file, file.size(), "input");
    const std::uint64_t count = zuhost::numberOfElements(array);
    if (array.classID() != header.classID) fail("array class differs from the header's");
    if (array.isComplex() != header.complex) fail("array complexity differs from the header's");
    if (count != header.elementCount) fail("element count differs from the header's");
    if (array.classID() == zuLogicalClass) {
        const auto* bytes = static_cast<const unsigned char*>(array.realData);
        for (std::uint64_t i = 0; i < count; ++i) {
            if (bytes[i] > 1) fail("a logical element holds neither 0 nor 1");
        }
    }

    const std::vector<std::byte> encoded = axiswarp::tools::encodeNpy(array);
    zuhost::ArrayPtr back;
    try {
        back = axiswarp::tools::decodeNpy(encoded, "round trip");
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        fail("the reader refused what the writer wrote");
    }
    if (back->classID() != array.classID() || back->isComplex() != array.isComplex()) {
        fail("round trip changed the class or complexity");
    }
    if (zuhost::extents(*back) != zuhost::extents(array)) fail("round trip changed the extents");
    const std::size_t bytes = static_cast<std::size_t>(count * zuhost::elementSize(array.classID()));
    if (!samePart(back->realData, array.realData, bytes) || !samePart(back->imagData, array.imagData, bytes)) {
        fail("round trip changed the data");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const zuhost::Counts before = zuhost::liveCounts();
    {
        const std::span<const std::byte> file(reinterpret_cast<const std::byte*>(data), size);
        zuhost::ArrayPtr array;
        try {
            array = axiswarp::tools::decodeNpy(file, "input");
        } catch (const ToolError& error) {
            // Refused with a message: the expected end for most inputs.
            // AXISWARP_FUZZ_VERBOSE=1 shows it (for checking seeds).
            static const bool verbose = std::getenv("AXISWARP_FUZZ_VERBOSE") != nullptr;
            if (verbose) std::fprintf(stderr, "refused: %s\n", error.what());
        }
        if (array != nullptr) checkDecoded(file, *array);
    }
    if (!(zuhost::liveCounts() == before)) fail("host arrays or blocks outlived the input");
    return 0;
}

#include "npy/npy_io.hpp"

#include "runtime/atomic_file.hpp"
#include "npy/npy_header.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace axiswarp::tools {

namespace {

constexpr std::size_t kChunkElements = 8192;

[[noreturn]] void fail(std::string_view name, const std::string& problem) {
    throw ToolError(std::string(name) + ": " + problem);
}

// ---- data -------------------------------------------------------------------

std::vector<std::uint64_t> hostExtents(const NpyHeader& header) {
    std::vector<std::uint64_t> dims = header.shape;
    if (dims.empty()) dims = {1, 1};
    else if (dims.size() == 1) dims.push_back(1);
    return dims;
}

zuhost::ArrayPtr createFor(const NpyHeader& header, std::string_view name) {
    zuhost::ArrayOptions options;
    options.complexity = header.complex ? zuCOMPLEX : zuREAL;
    const std::vector<std::uint64_t> dims = hostExtents(header);
    try {
        return zuhost::createArray(header.classID, dims, options);
    } catch (const zuhost::HostError& error) {
        fail(name, "cannot hold the array: " + error.message());
    }
}

bool needsSwap(bool bigEndian) { return bigEndian != (std::endian::native == std::endian::big); }

template <std::size_t Bytes>
void copyComponent(const std::byte* from, std::byte* to, bool swap) {
    std::byte value[Bytes];
    std::memcpy(value, from, Bytes);
    if (swap) std::reverse(value, value + Bytes);
    std::memcpy(to, value, Bytes);
}

// Copies every element from file order into host order. For C order the file
// index of host element (i0, i1, ...) is advanced incrementally with the C
// strides, so each element costs a few additions.
template <std::size_t Bytes>
void scatter(const NpyHeader& header, const std::byte* data, zuArray& array) {
    const bool swap = needsSwap(header.bigEndian);
    const std::uint64_t itemBytes = Bytes * (header.complex ? 2 : 1);
    auto* real = static_cast<std::byte*>(array.realData);
    auto* imag = static_cast<std::byte*>(array.imagData);
    auto copyElement = [&](std::uint64_t host, std::uint64_t file) {
        const std::byte* element = data + file * itemBytes;
        copyComponent<Bytes>(element, real + host * Bytes, swap);
        if (header.complex) copyComponent<Bytes>(element + Bytes, imag + host * Bytes, swap);
    };
    if (header.fortranOrder || header.shape.size() < 2) {
        for (std::uint64_t i = 0; i < header.elementCount; ++i) copyElement(i, i);
        return;
    }
    if (header.elementCount == 0) return;
    const std::size_t rank = header.shape.size();
    std::vector<std::uint64_t> strides(rank, 1);
    for (std::size_t k = rank - 1; k-- > 0;) strides[k] = strides[k + 1] * header.shape[k + 1];
    std::vector<std::uint64_t> index(rank, 0);
    std::uint64_t file = 0;
    for (std::uint64_t host = 0; host < header.elementCount; ++host) {
        copyElement(host, file);
        for (std::size_t k = 0; k < rank; ++k) {
            file += strides[k];
            if (++index[k] < header.shape[k]) break;
            file -= strides[k] * header.shape[k];
            index[k] = 0;
        }
    }
}

// A logical element is one byte holding 0 or 1; NumPy treats any non-zero
// byte of a bool array as true.
void normaliseLogical(const NpyHeader& header, zuArray& array) {
    if (header.classID != zuLogicalClass) return;
    auto* bytes = static_cast<unsigned char*>(array.realData);
    for (std::uint64_t i = 0; i < header.elementCount; ++i) bytes[i] = bytes[i] != 0 ? 1 : 0;
}

void fillArray(const NpyHeader& header, const std::byte* data, zuArray& array) {
    switch (header.componentBytes) {
        case 1: scatter<1>(header, data, array); break;
        case 2: scatter<2>(header, data, array); break;
        case 4: scatter<4>(header, data, array); break;
        case 8: scatter<8>(header, data, array); break;
        default: break;
    }
    normaliseLogical(header, array);
}

}  // namespace

// ---- reading ------------------------------------------------------------------

zuhost::ArrayPtr decodeNpy(std::span<const std::byte> file, std::string_view name) {
    const NpyHeader header = parseNpyHeader(file, file.size(), name);
    zuhost::ArrayPtr array = createFor(header, name);
    fillArray(header, file.data() + header.dataOffset, *array);
    return array;
}

zuhost::ArrayPtr readNpy(const std::filesystem::path& path, const NpyReadOptions& options) {
    const std::string name = path.string();
    // Before opening: opening a FIFO would wait for a writer, and a device
    // has no size to check the header against.
    std::error_code statError;
    const std::filesystem::file_status status = std::filesystem::status(path, statError);
    if (std::filesystem::is_directory(status)) fail(name, "is a folder, not a .npy file");
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        fail(name, "is not a regular file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        fail("cannot open '" + name + "'",
             error != 0 ? std::generic_category().message(error) : "unknown error");
    }
    std::error_code ec;
    const std::uint64_t fileSize = std::filesystem::file_size(path, ec);
    if (ec) fail(name, "cannot read its size: " + ec.message());

    auto readExactly = [&](std::byte* to, std::uint64_t count) {
        in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(count));
        if (static_cast<std::uint64_t>(in.gcount()) != count) {
            fail(name, "read failed or the file shrank while being read");
        }
    };

    // The preamble first, then exactly as much header as it claims; the data
    // is allocated only once the header has been checked against the file size.
    const auto already =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kNpyPreambleBytes));
    std::vector<std::byte> head(already);
    readExactly(head.data(), head.size());
    head.resize(static_cast<std::size_t>(npyHeaderEnd(head, fileSize, name)));
    if (head.size() > already) readExactly(head.data() + already, head.size() - already);
    const NpyHeader header = parseNpyHeader(head, fileSize, name);
    if (header.dataBytes > options.maxDataBytes) {
        throw LimitError(LimitError::Kind::npyDataBytes,
                         name + ": the data is " + std::to_string(header.dataBytes) +
                             " bytes, more than the limit of " +
                             std::to_string(options.maxDataBytes));
    }

    zuhost::ArrayPtr array = createFor(header, name);
    in.seekg(static_cast<std::streamoff>(header.dataOffset));
    if (header.fortranOrder && !header.complex && !needsSwap(header.bigEndian)) {
        readExactly(static_cast<std::byte*>(array->realData), header.dataBytes);
        normaliseLogical(header, *array);
    } else {
        std::vector<std::byte> data(static_cast<std::size_t>(header.dataBytes));
        readExactly(data.data(), data.size());
        fillArray(header, data.data(), *array);
    }
    return array;
}

// ---- writing ------------------------------------------------------------------

void encodeNpy(const zuArray& array,
               const std::function<void(std::span<const std::byte>)>& sink) {
    const zuClassID classID = array.classID();
    const bool complex = array.isComplex();
    const std::string head = encodeNpyHeader(array);
    sink(std::as_bytes(std::span<const char>(head.data(), head.size())));

    const std::size_t bytes = zuhost::elementSize(classID);
    const std::uint64_t count = zuhost::numberOfElements(array);
    const auto* real = static_cast<const std::byte*>(array.realData);
    // A big-endian machine reverses each component into little-endian order.
    const bool swap = bytes > 1 && std::endian::native == std::endian::big;
    if (!complex && !swap) {
        sink(std::span<const std::byte>(real, static_cast<std::size_t>(count * bytes)));
        return;
    }
    const auto* imag = static_cast<const std::byte*>(array.imagData);
    const std::size_t parts = complex ? 2 : 1;
    auto put = [&](const std::byte* from, std::byte* to) {
        std::memcpy(to, from, bytes);
        if (swap) std::reverse(to, to + bytes);
    };
    std::vector<std::byte> chunk(kChunkElements * parts * bytes);
    for (std::uint64_t start = 0; start < count; start += kChunkElements) {
        const std::uint64_t n = std::min<std::uint64_t>(kChunkElements, count - start);
        for (std::uint64_t i = 0; i < n; ++i) {
            put(real + (start + i) * bytes, &chunk[parts * i * bytes]);
            if (complex) put(imag + (start + i) * bytes, &chunk[(2 * i + 1) * bytes]);
        }
        sink(std::span<const std::byte>(chunk.data(), static_cast<std::size_t>(parts * n * bytes)));
    }
}

std::vector<std::byte> encodeNpy(const zuArray& array) {
    std::vector<std::byte> bytes;
    encodeNpy(array, [&](std::span<const std::byte> piece) {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    });
    return bytes;
}

void writeNpy(const std::filesystem::path& path, const zuArray& array) {
    // Check the class before creating anything on disk.
    npyDescr(array.classID(), array.isComplex());
    AtomicFile file(path);
    encodeNpy(array, [&](std::span<const std::byte> piece) { file.write(piece); });
    file.commit();
}

}  // namespace axiswarp::tools

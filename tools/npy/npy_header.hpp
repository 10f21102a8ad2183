// The header of a NumPy .npy file, read and written: the preamble (magic,
// format version, header length) and the Python dict literal after it that
// gives the dtype, the element order and the shape.
//
// Parsing is strict and bounded: the header length must lie within the file,
// every extent must be a non-negative integer, the element count and byte
// size are overflow-checked, and the declared data must exactly fill the rest
// of the file. Nothing the header claims is allocated here; the reader in
// npy_io does that only once the header has passed.
#ifndef AXISWARP_TOOLS_NPY_HEADER_HPP
#define AXISWARP_TOOLS_NPY_HEADER_HPP

#include "runtime/tool_error.hpp"

#include <zu.h>
#include <zuhost/standin_host.hpp>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

// What a validated .npy header describes.
struct NpyHeader {
    int majorVersion = 1;
    std::string descr;            // the dtype as written, for messages
    zuClassID classID = zuClassID{0};
    bool complex = false;
    bool bigEndian = false;
    std::size_t componentBytes = 0;  // one real or one imaginary part
    bool fortranOrder = false;
    std::vector<std::uint64_t> shape;
    std::uint64_t elementCount = 0;
    std::uint64_t dataOffset = 0;    // first data byte, counted from the file's start
    std::uint64_t dataBytes = 0;
};

// The longest preamble (format 2.0 and 3.0): the bytes npyHeaderEnd needs.
inline constexpr std::size_t kNpyPreambleBytes = 12;

// Parses the preamble and header at the start of `bytes`. `fileSize` is the
// size of the whole file (bytes may hold only its beginning). The data size
// must equal fileSize - dataOffset. `name` prefixes every error message.
NpyHeader parseNpyHeader(std::span<const std::byte> bytes, std::uint64_t fileSize,
                         std::string_view name);

// From the first bytes of a file (up to kNpyPreambleBytes), where its header
// ends, after checking the preamble and that the header fits in the file: a
// reader reads exactly that much before parsing.
std::uint64_t npyHeaderEnd(std::span<const std::byte> start, std::uint64_t fileSize,
                           std::string_view name);

// The .npy dtype string written for a class ("<f8", "[('re', '<i2'), ('im', '<i2')]", ...).
// Throws ToolError for a class a .npy file cannot hold.
std::string npyDescr(zuClassID classID, bool complex);

// The preamble and header written before an array's data: Fortran order,
// little-endian, padded so that the data starts on a 64-byte boundary.
std::string encodeNpyHeader(const zuArray& array);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_NPY_HEADER_HPP

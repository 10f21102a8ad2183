// Reading and writing NumPy .npy files as host arrays.
//
// The host stores every array column-major with at least two extents, and the
// real and imaginary parts of a complex array as two separate blocks. On load,
// C-order data is reordered into that layout, interleaved complex data is
// split, big-endian data is byte-swapped, a 0-d array becomes 1-by-1 and a 1-d
// array of n elements n-by-1. On save, the host's extents are written as the
// shape in Fortran order, little-endian.
//
// Parsing is strict and bounded: the header length must lie within the file,
// every extent must be a non-negative integer, the element count and byte
// size are overflow-checked, and the declared data must be present in the
// file before anything of that size is allocated.
#ifndef AXISWARP_TOOLS_NPY_IO_HPP
#define AXISWARP_TOOLS_NPY_IO_HPP

#include "tool_error.hpp"

#include <zu.h>
#include <zuhost/standin_host.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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

// Parses the preamble and header at the start of `bytes`. `fileSize` is the
// size of the whole file (bytes may hold only its beginning). The data size
// must equal fileSize - dataOffset. `name` prefixes every error message.
NpyHeader parseNpyHeader(std::span<const std::byte> bytes, std::uint64_t fileSize,
                         std::string_view name);

// A whole .npy file held in memory.
zuhost::ArrayPtr decodeNpy(std::span<const std::byte> file, std::string_view name);

struct NpyReadOptions {
    // Largest data block read; a bigger one is refused (LimitError) before
    // anything of its size is allocated. Guards against sparse files, whose
    // size on disk says nothing about the memory they claim.
    std::uint64_t maxDataBytes = std::uint64_t{1} << 32;
};

// Reads a .npy file. Throws ToolError naming the file on any problem.
zuhost::ArrayPtr readNpy(const std::filesystem::path& path, const NpyReadOptions& options = {});

// The .npy dtype string written for a class ("<f8", "[('re', '<i2'), ('im', '<i2')]", ...).
std::string npyDescr(zuClassID classID, bool complex);

// Streams the .npy encoding of an array to `sink` in pieces.
void encodeNpy(const zuArray& array,
               const std::function<void(std::span<const std::byte>)>& sink);
std::vector<std::byte> encodeNpy(const zuArray& array);

// Writes an array to a .npy file through a temporary file and a rename.
void writeNpy(const std::filesystem::path& path, const zuArray& array);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_NPY_IO_HPP

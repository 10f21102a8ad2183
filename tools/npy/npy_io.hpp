// Reading and writing NumPy .npy files as host arrays.
//
// The host stores every array column-major with at least two extents, and the
// real and imaginary parts of a complex array as two separate blocks. On load,
// C-order data is reordered into that layout, interleaved complex data is
// split, big-endian data is byte-swapped, a 0-d array becomes 1-by-1 and a 1-d
// array of n elements n-by-1. On save, the host's extents are written as the
// shape in Fortran order, little-endian.
//
// The header is parsed and checked by npy_header (included here, so callers
// see NpyHeader and npyDescr too) before anything of the size it declares is
// allocated.
#ifndef AXISWARP_TOOLS_NPY_IO_HPP
#define AXISWARP_TOOLS_NPY_IO_HPP

#include "npy/npy_header.hpp"
#include "runtime/tool_error.hpp"

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

// Streams the .npy encoding of an array to `sink` in pieces.
void encodeNpy(const zuArray& array,
               const std::function<void(std::span<const std::byte>)>& sink);
std::vector<std::byte> encodeNpy(const zuArray& array);

// Writes an array to a .npy file through an AtomicFile: it appears whole or
// not at all.
void writeNpy(const std::filesystem::path& path, const zuArray& array);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_NPY_IO_HPP

// The sRGB transfer curve (IEC 61966-2-1), between encoded values and linear
// light, both nominally 0..1.
//
// Values beyond 0..1 (float images may hold them) follow the curve mirrored
// through 0 and extended past 1, as extended-range sRGB does; NaN stays NaN.
// The power is the C library's std::pow, so results are the same wherever the
// same C library runs; the table of 8- and 16-bit codes is built from it once.
#ifndef AXISWARP_TOOLS_SRGB_TRANSFER_HPP
#define AXISWARP_TOOLS_SRGB_TRANSFER_HPP

#include <cstdint>
#include <type_traits>
#include <vector>

namespace axiswarp::tools {

double srgbToLinear(double encoded) noexcept;
double linearToSrgb(double linear) noexcept;

// Linear light of every code of an 8- or 16-bit unsigned type: entry v is
// srgbToLinear(v / max).
const std::vector<double>& srgbDecodingTable8();
const std::vector<double>& srgbDecodingTable16();

template <class T>
const std::vector<double>& srgbDecodingTable() {
    static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t>);
    if constexpr (sizeof(T) == 1) return srgbDecodingTable8();
    else return srgbDecodingTable16();
}

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_SRGB_TRANSFER_HPP

#include "resample/srgb_transfer.hpp"

#include <cmath>

namespace axiswarp::tools {

namespace {

// The curve's own constants: a linear toe below 0.04045 encoded (0.0031308
// linear), a 2.4 power with offset 0.055 above it.
constexpr double kEncodedToe = 0.04045;
constexpr double kLinearToe = 0.0031308;
constexpr double kToeSlope = 12.92;
constexpr double kOffset = 0.055;
constexpr double kGamma = 2.4;

double decodeMagnitude(double e) {
    if (e <= kEncodedToe) return e / kToeSlope;
    return std::pow((e + kOffset) / (1.0 + kOffset), kGamma);
}

double encodeMagnitude(double l) {
    if (l <= kLinearToe) return l * kToeSlope;
    return (1.0 + kOffset) * std::pow(l, 1.0 / kGamma) - kOffset;
}

template <unsigned Bits>
std::vector<double> buildTable() {
    constexpr std::uint32_t top = (1u << Bits) - 1;
    std::vector<double> table(std::size_t{top} + 1);
    for (std::uint32_t v = 0; v <= top; ++v) table[v] = srgbToLinear(static_cast<double>(v) / top);
    return table;
}

}  // namespace

double srgbToLinear(double encoded) noexcept {
    return std::signbit(encoded) ? -decodeMagnitude(-encoded) : decodeMagnitude(encoded);
}

double linearToSrgb(double linear) noexcept {
    return std::signbit(linear) ? -encodeMagnitude(-linear) : encodeMagnitude(linear);
}

const std::vector<double>& srgbDecodingTable8() {
    static const std::vector<double> table = buildTable<8>();
    return table;
}

const std::vector<double>& srgbDecodingTable16() {
    static const std::vector<double> table = buildTable<16>();
    return table;
}

}  // namespace axiswarp::tools

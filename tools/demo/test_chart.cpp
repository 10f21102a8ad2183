#include "demo/test_chart.hpp"

#include "demo/bitmap_font.hpp"
#include "runtime/tool_error.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>

namespace axiswarp::tools {

namespace {

using Rgb = std::array<double, 3>;  // each 0..1

std::uint32_t toSample(double v) {
    return static_cast<std::uint32_t>(std::lround(255.0 * std::clamp(v, 0.0, 1.0)));
}

Rgb hsv(double h, double s, double v) {
    const double sector = h * 6.0;
    const double whole = std::floor(sector);
    const double f = sector - whole;
    const double p = v * (1.0 - s);
    const double q = v * (1.0 - s * f);
    const double t = v * (1.0 - s * (1.0 - f));
    switch (static_cast<int>(whole) % 6) {
        case 0: return {v, t, p};
        case 1: return {q, v, p};
        case 2: return {p, v, t};
        case 3: return {p, q, v};
        case 4: return {t, p, v};
        default: return {v, p, q};
    }
}

Rgb gray(double v) { return {v, v, v}; }

// Rings of frequency r / (sqrt(2) q) cycles per pixel at distance r from the
// quadrant's centre: half a cycle per pixel at the corners.
Rgb zonePlate(double x, double y, double q) {
    const double dx = x - q / 2.0;
    const double dy = y - q / 2.0;
    const double phase = std::numbers::pi * (dx * dx + dy * dy) / (std::numbers::sqrt2 * q);
    return gray(0.5 + 0.5 * std::cos(phase));
}

Rgb linesAndEdges(std::uint32_t col, std::uint32_t row, std::uint32_t q) {
    const double x = col + 0.5;
    const double y = row + 0.5;
    const std::uint32_t block = q / 4;
    if (row < q / 2) {
        const std::uint32_t b = col / block;
        const std::uint32_t w = b + 1;  // line width in pixels
        const std::uint32_t along = row < q / 4 ? col - b * block : row - q / 4;
        return gray((along / w) % 2 == 0 ? 0.0 : 1.0);
    }
    if (col < q / 2) {
        const double dx = x - q / 4.0;
        const double dy = y - 3.0 * q / 4.0;
        if (std::hypot(dx, dy) > q / 4.0 - 4.0) return gray(1.0);
        const double turn = (std::atan2(dy, dx) + std::numbers::pi) / (2.0 * std::numbers::pi);
        return gray(static_cast<long>(std::floor(turn * 64.0)) % 2 == 0 ? 0.0 : 1.0);
    }
    const double slope = std::tan(5.0 * std::numbers::pi / 180.0);
    return gray(x - 3.0 * q / 4.0 < (y - 3.0 * q / 4.0) * slope ? 0.05 : 0.95);
}

Rgb colourSquares(std::uint32_t col, std::uint32_t row, std::uint32_t q) {
    static const std::array<Rgb, 8> colours = {Rgb{1, 0, 0}, Rgb{0, 1, 0}, Rgb{0, 0, 1}, Rgb{1, 1, 1},
                                               Rgb{0, 1, 1}, Rgb{1, 0, 1}, Rgb{1, 1, 0}, Rgb{0, 0, 0}};
    const std::uint32_t side = q / 4;
    return colours[(row / side) * 4 + col / side];
}

}  // namespace

Image makeTestChart(std::uint32_t size) {
    if (size < 64 || size > 8192 || size % 16 != 0)
        throw ToolError("the test chart size must be a multiple of 16 from 64 to 8192, not " +
                        std::to_string(size));
    const std::uint32_t q = size / 2;
    Image chart = Image::blank(size, size, 3, 8);
    auto samples = chart.samples8();
    for (std::uint32_t col = 0; col < size; ++col) {
        for (std::uint32_t row = 0; row < size; ++row) {
            Rgb rgb;
            if (row < q && col < q) {
                rgb = zonePlate(col + 0.5, row + 0.5, q);
            } else if (row < q) {
                rgb = linesAndEdges(col - q, row, q);
            } else if (col < q) {
                rgb = hsv((col + 0.5) / q, 1.0, 1.0 - (row - q + 0.5) / q);
            } else if (row < q + q / 2) {
                rgb = colourSquares(col - q, row - q, q);
            } else {
                rgb = gray(1.0);
            }
            for (std::uint32_t k = 0; k < 3; ++k)
                samples[chart.offset(row, col, k)] = static_cast<std::uint8_t>(toSample(rgb[k]));
        }
    }
    // Lettering in the lower half of the bottom-right quadrant.
    const std::uint32_t big = std::max<std::uint32_t>(1, q / 64);
    const std::uint32_t small = std::max<std::uint32_t>(1, q / 128);
    const std::array<std::uint32_t, 4> black{0, 0, 0, 0};
    const std::string_view title = "AXISWARP";
    const std::string_view digits = "0123456789 +-=%";
    drawText(chart, q + q / 2 + q / 16, q + (q - std::min(q, textWidth(title, big))) / 2, title, big,
             black);
    drawText(chart, q + q / 2 + q / 16 + textHeight(big) + q / 16,
             q + (q - std::min(q, textWidth(digits, small))) / 2, digits, small, black);
    return chart;
}

ImageRegion chartStarRegion(std::uint32_t size) {
    const std::uint32_t q = size / 2;
    return {q / 2, q, q / 2, q / 2};
}

}  // namespace axiswarp::tools

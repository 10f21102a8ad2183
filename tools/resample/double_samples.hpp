// The double path's conversions of samples, shared by the whole-image and
// the streaming resizers so that both give the same bits.
//
// In: a sample becomes a double as it is, or decoded from sRGB to linear
// light (colour only: alpha is a coverage, never a light level), and colour
// is then multiplied by the pixel's alpha as a double. Out: alpha is stored
// first; where it is stored above 0 (a >= 1/2 for the integer types, a > 0
// for the floats, so the division is safe) colour is divided by the
// resampled alpha, encoded back for linear light, and stored; elsewhere
// nothing is left to see and colour is 0.
#ifndef AXISWARP_TOOLS_DOUBLE_SAMPLES_HPP
#define AXISWARP_TOOLS_DOUBLE_SAMPLES_HPP

#include "image/image.hpp"
#include "resample/srgb_transfer.hpp"

#include <cstdint>
#include <type_traits>
#include <vector>

namespace axiswarp::tools {

// One sample of T as a double, as it is or in linear light.
template <class T>
class SampleDecoder {
public:
    explicit SampleDecoder(bool linear) : linear_(linear) {
        if constexpr (kTabled) {
            if (linear) table_ = srgbDecodingTable<T>().data();
        }
    }
    double operator()(T sample) const {
        if (!linear_) return static_cast<double>(sample);
        if constexpr (kTabled) return table_[sample];
        else return srgbToLinear(static_cast<double>(sample) / nominalMax(sampleTypeFor<T>()));
    }

private:
    static constexpr bool kTabled = sizeof(T) <= 2 && std::is_unsigned_v<T>;
    bool linear_;
    const double* table_ = nullptr;
};

// One finished double into T, from linear light if asked.
template <class T>
T storeResult(double value, bool linear) {
    if (linear) value = linearToSrgb(value) * nominalMax(sampleTypeFor<T>());
    return storeSample<T>(value);
}

// The fill sample of every channel as the double path holds it: decoded like
// an image sample of value `fill`, colour premultiplied by an alpha of `fill`.
template <class T>
std::vector<double> doubleFill(T fill, std::uint32_t channels, bool alpha, bool linear) {
    const std::uint32_t colour = alpha ? channels - 1 : channels;
    std::vector<double> out(channels);
    for (std::uint32_t k = 0; k < channels; ++k) {
        out[k] = SampleDecoder<T>(linear && k < colour)(fill);
        if (alpha && k < colour) out[k] *= static_cast<double>(fill);
    }
    return out;
}

// Interleaved pixels (channels samples each, alpha last) into doubles.
template <class T>
void decodePixels(const T* in, std::uint64_t pixels, std::uint32_t channels, bool alpha, bool linear,
                  double* out) {
    const std::uint32_t colour = alpha ? channels - 1 : channels;
    const SampleDecoder<T> decode(linear);
    if (!alpha) {
        // Every sample alike: one flat loop, which the compiler vectorises
        // when nothing is decoded (the same conversions either way).
        const std::uint64_t samples = pixels * channels;
        if (!linear) {
            for (std::uint64_t i = 0; i < samples; ++i) out[i] = static_cast<double>(in[i]);
        } else {
            for (std::uint64_t i = 0; i < samples; ++i) out[i] = decode(in[i]);
        }
        return;
    }
    for (std::uint64_t p = 0; p < pixels; ++p, in += channels, out += channels) {
        const double a = alpha ? static_cast<double>(in[colour]) : 0.0;
        for (std::uint32_t k = 0; k < colour; ++k) {
            out[k] = decode(in[k]);
            if (alpha) out[k] *= a;
        }
        if (alpha) out[colour] = a;
    }
}

// Interleaved resampled doubles into pixels of T.
template <class T>
void storePixels(const double* in, std::uint64_t pixels, std::uint32_t channels, bool alpha, bool linear,
                 T* out) {
    const std::uint32_t colour = alpha ? channels - 1 : channels;
    if (!alpha) {
        const std::uint64_t samples = pixels * channels;
        for (std::uint64_t i = 0; i < samples; ++i) out[i] = storeResult<T>(in[i], linear);
        return;
    }
    for (std::uint64_t p = 0; p < pixels; ++p, in += channels, out += channels) {
        const double a = in[colour];
        const T storedAlpha = storeSample<T>(a);
        out[colour] = storedAlpha;
        for (std::uint32_t k = 0; k < colour; ++k)
            out[k] = storedAlpha > T{0} ? storeResult<T>(in[k] / a, linear) : T{0};
    }
}

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_DOUBLE_SAMPLES_HPP

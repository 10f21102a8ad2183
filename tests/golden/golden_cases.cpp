#include "golden_cases.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "host_arrays.hpp"
#include "sha256.hpp"

namespace axiswarp::golden {
namespace {

using u64 = std::uint64_t;
using zuhost::ArrayPtr;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// splitmix64: a fixed sequence of 64-bit values for a seed, the same on every
// platform and standard library.
class Bits {
public:
    explicit Bits(u64 seed) : state_(seed) {}
    u64 next() {
        u64 z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    u64 below(u64 n) { return n == 0 ? 0 : next() % n; }
    // A multiple of 2^-53 in [0, 1), exactly.
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }

private:
    u64 state_;
};

// How the image's samples are drawn.
enum class Values {
    moderate,  // integers near zero, floating-point values in [-1000, 1000)
    wide,      // every bit pattern of the type (saturation, and NaN and
               // infinities among the floating-point ones)
    ones,      // every sample 1
    listed,    // given explicitly, repeated
};

// How the weights are drawn.
enum class Weights {
    moderate,  // in [-0.75, 1.25)
    special,   // from +-0, +-inf, NaN, +-1, 0.5, 2^-1074, 1e300
    listed,    // given explicitly, repeated
};

struct Recipe {
    std::string name;
    zuClassID classID = zuDoubleClass;
    bool complex = false;
    u64 rows = 1, cols = 1, planes = 0;  // planes 0: a two-dimensional image
    double dim = 1.0;
    u64 taps = 1, outLength = 1;
    Values values = Values::moderate;
    Weights weights = Weights::moderate;
    u64 seed = 1;
    std::vector<double> listedWeights;    // Weights::listed, in table order
    std::vector<double> listedIndices;    // if not empty, the index table in table order
    std::vector<u64> listedBits;          // Values::listed: element values as integers or bit patterns
};

// Element value from 64 random bits or a listed integer, for class T.
template <class T>
T elementFrom(Values mode, u64 bits, Bits& rng) {
    if constexpr (std::is_same_v<T, double>) {
        if (mode == Values::ones) return 1.0;
        if (mode == Values::wide || mode == Values::listed) return std::bit_cast<double>(bits);
        return (rng.unit() - 0.5) * 2000.0;
    } else if constexpr (std::is_same_v<T, float>) {
        if (mode == Values::ones) return 1.0f;
        if (mode == Values::wide || mode == Values::listed) return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        return static_cast<float>((rng.unit() - 0.5) * 2000.0);
    } else {
        if (mode == Values::ones) return T{1};
        if (mode == Values::wide || mode == Values::listed) return static_cast<T>(bits);  // modular
        if constexpr (std::is_signed_v<T>) return static_cast<T>(static_cast<std::int64_t>(bits % 201) - 100);
        return static_cast<T>(bits % 256);
    }
}

template <class T>
void fillElements(void* data, u64 count, const Recipe& recipe, Bits& rng, bool logical) {
    auto* out = static_cast<T*>(data);
    for (u64 n = 0; n < count; ++n) {
        if (logical) {
            out[n] = static_cast<T>(recipe.values == Values::ones ? 1 : rng.next() & 1);
            continue;
        }
        const u64 bits = recipe.values == Values::listed ? recipe.listedBits[n % recipe.listedBits.size()] : rng.next();
        out[n] = elementFrom<T>(recipe.values, bits, rng);
    }
}

void fillPart(void* data, u64 count, const Recipe& recipe, Bits& rng) {
    switch (recipe.classID) {
        case zuDoubleClass: return fillElements<double>(data, count, recipe, rng, false);
        case zuSingleClass: return fillElements<float>(data, count, recipe, rng, false);
        case zuInt8Class: return fillElements<std::int8_t>(data, count, recipe, rng, false);
        case zuUint8Class: return fillElements<std::uint8_t>(data, count, recipe, rng, false);
        case zuLogicalClass: return fillElements<std::uint8_t>(data, count, recipe, rng, true);
        case zuInt16Class: return fillElements<std::int16_t>(data, count, recipe, rng, false);
        case zuUint16Class: return fillElements<std::uint16_t>(data, count, recipe, rng, false);
        case zuInt32Class: return fillElements<std::int32_t>(data, count, recipe, rng, false);
        case zuUint32Class: return fillElements<std::uint32_t>(data, count, recipe, rng, false);
        case zuInt64Class: return fillElements<std::int64_t>(data, count, recipe, rng, false);
        case zuUint64Class: return fillElements<std::uint64_t>(data, count, recipe, rng, false);
        default: return;  // classes without kernels: the data stay as created
    }
}

ArrayPtr tableOf(u64 taps, u64 outLength, const std::vector<double>& values) {
    return axiswarp::testing::makeDoubles({taps, outLength}, values);
}

GoldenCase build(const Recipe& recipe) {
    Bits rng(recipe.seed);
    std::vector<u64> extents = {recipe.rows, recipe.cols};
    if (recipe.planes != 0) extents.push_back(recipe.planes);
    zuhost::ArrayOptions options;
    if (recipe.complex) options.complexity = zuCOMPLEX;
    const bool listed = recipe.classID == zuDoubleClass || recipe.classID == zuSingleClass ||
                        (recipe.classID >= zuInt8Class && recipe.classID <= zuUint64Class) ||
                        recipe.classID == zuLogicalClass;
    if (!listed) options.numeric = zuhost::ArrayOptions::Numeric::Set;
    ArrayPtr image = zuhost::createArray(recipe.classID, extents, options);
    const u64 count = zuhost::numberOfElements(*image);
    if (!listed && count != 0) std::memset(image->realData, 0, count * zuhost::elementSize(recipe.classID));
    fillPart(image->realData, count, recipe, rng);
    if (recipe.complex) fillPart(image->imagData, count, recipe, rng);

    const u64 entries = recipe.taps * recipe.outLength;
    const u64 extent = recipe.dim >= 1.0 && recipe.dim < 2.0 ? recipe.rows : recipe.cols;
    std::vector<double> weights(entries), indices(entries);
    static const double special[] = {0.0, -0.0, kInf, -kInf, kNaN, 1.0, -1.0, 0.5, 0x1p-1074, 1e300};
    for (u64 e = 0; e < entries; ++e) {
        switch (recipe.weights) {
            case Weights::moderate: weights[e] = rng.unit() * 2.0 - 0.75; break;
            case Weights::special: weights[e] = special[rng.below(std::size(special))]; break;
            case Weights::listed: weights[e] = recipe.listedWeights[e % recipe.listedWeights.size()]; break;
        }
        if (!recipe.listedIndices.empty()) {
            indices[e] = recipe.listedIndices[e % recipe.listedIndices.size()];
        } else {
            // A fractional part that the module drops: any index in [k, k + 1) is position k.
            indices[e] = static_cast<double>(1 + rng.below(extent)) + static_cast<double>(rng.next() & 0xFFFF) * 0x1p-16;
        }
    }
    return {recipe.name, std::move(image), tableOf(recipe.taps, recipe.outLength, weights),
            tableOf(recipe.taps, recipe.outLength, indices), zuhost::createScalar(recipe.dim)};
}

constexpr zuClassID kClasses[] = {zuDoubleClass, zuSingleClass, zuInt8Class,  zuUint8Class,
                                  zuInt16Class,  zuUint16Class, zuInt32Class, zuUint32Class,
                                  zuInt64Class,  zuUint64Class, zuLogicalClass};

std::string label(const Recipe& s) {
    std::ostringstream out;
    out << zuhost::className(s.classID) << (s.complex ? "-complex" : "") << "-dim" << (s.dim >= 1.0 && s.dim < 2.0 ? 1 : 2)
        << "-" << s.rows << "x" << s.cols;
    if (s.planes != 0) out << "x" << s.planes;
    out << "-K" << s.taps << "-L" << s.outLength;
    return out.str();
}

// Sums that sit on the rounding and saturation edges of some class, stored
// through one tap of weight `sum` over samples of value 1.
const std::vector<double>& edgeSums() {
    static const std::vector<double> sums = {
        0.5, 1.5, 2.5, 3.5, -0.5, -1.5, -2.5, 0.4, -0.4,
        0.49999999999999994, -0.49999999999999994, 0.4999999999999999, -0.4999999999999999,
        126.5, 127.5, -127.5, -128.5, 254.5, 255.4, 255.5, 1000.0, -1000.0,
        32767.5, -32768.5, 65534.5, 65535.5,
        2147483646.5, 2147483647.5, -2147483648.5, 4294967294.5, 4294967295.5,
        4503599627370497.0, -4503599627370497.0, 4503599627370498.0,
        9223372036854774784.0, 9223372036854775808.0, -9223372036854775808.0, -9223372036854777856.0,
        9223372036854777856.0, 18446744073709549568.0, 18446744073709551616.0, 1e300, -1e300,
        kInf, -kInf, kNaN, 0.0, -0.0, 16777217.0, 0.1, 1e39, -1e39, 0x1.ffffffp127, 0x1.fffffep127,
        0x1.fffffefffffffp127, 0x1p-1074, 1e-46, -1e-46};
    return sums;
}

std::vector<Recipe> allRecipes() {
    std::vector<Recipe> recipes;
    u64 seed = 1000;
    auto add = [&](Recipe s, const std::string& family) {
        s.seed = ++seed;
        s.name = family + "/" + label(s);
        recipes.push_back(std::move(s));
    };

    // Random calls: every class, real and complex, both dimensions, 2-D and
    // 3-D, a spread of K, moderate and full-range samples.
    const u64 tapChoices[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 23, 40};
    for (const zuClassID c : kClasses) {
        for (const double dim : {1.0, 2.0}) {
            u64 n = 0;
            for (const u64 k : tapChoices) {
                Recipe s;
                s.classID = c;
                s.complex = c != zuLogicalClass && n % 2 == 1;
                s.rows = 3 + (n * 7) % 19;
                s.cols = 2 + (n * 5) % 17;
                s.planes = n % 3 == 2 ? 1 + n % 4 : 0;
                s.dim = dim;
                s.taps = k;
                s.outLength = 1 + (n * 11) % 23;
                s.values = n % 2 == 0 ? Values::moderate : Values::wide;
                add(s, "random");
                ++n;
            }
        }
    }

    // Extents around the vector widths, blocks, strips, tiles and chunks of
    // the fast kernels: lanes across rows (dimension 2) or columns
    // (dimension 1), output lengths across blocks of columns or chunks.
    const u64 edges[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 129};
    for (const zuClassID c : {zuDoubleClass, zuSingleClass, zuUint8Class, zuInt16Class, zuUint32Class, zuUint64Class}) {
        for (const double dim : {1.0, 2.0}) {
            for (std::size_t n = 0; n < std::size(edges); ++n) {
                Recipe s;
                s.classID = c;
                s.dim = dim;
                const u64 across = edges[n];
                const u64 length = edges[(n * 5 + 3) % std::size(edges)];
                s.rows = dim == 1.0 ? 5 + n % 4 : across;
                s.cols = dim == 1.0 ? across : 5 + n % 4;
                s.outLength = length;
                s.taps = n % 3 == 0 ? 1 : n % 3 == 1 ? 4 : 7;
                add(s, "blocks");
            }
        }
    }
    // Larger tables: a dimension-1 column taller than one tile of rows, and
    // more index entries than one chunk's table holds.
    for (const zuClassID c : {zuDoubleClass, zuSingleClass, zuUint8Class, zuInt32Class}) {
        Recipe tall;
        tall.classID = c;
        tall.dim = 1.0;
        tall.rows = 300;
        tall.cols = 19;
        tall.taps = 6;
        tall.outLength = 130;
        add(tall, "tiles");
        Recipe many;
        many.classID = c;
        many.dim = 2.0;
        many.rows = 35;
        many.cols = 70;
        many.taps = 40;
        many.outLength = 65;
        add(many, "tiles");
    }

    // Every K from 0 to 40.
    for (const zuClassID c : {zuDoubleClass, zuSingleClass, zuUint8Class, zuInt16Class}) {
        for (const double dim : {1.0, 2.0}) {
            for (u64 k = 0; k <= 40; ++k) {
                Recipe s;
                s.classID = c;
                s.dim = dim;
                s.rows = 9;
                s.cols = 7;
                s.taps = k;
                s.outLength = 5;
                add(s, "taps");
            }
        }
    }

    // Rounding and saturation edges in every class: each output sample is
    // 1 * sum for one sum of the list, in many lanes at once.
    for (const zuClassID c : kClasses) {
        for (const double dim : {1.0, 2.0}) {
            Recipe s;
            s.classID = c;
            s.dim = dim;
            s.rows = dim == 1.0 ? 1 : 19;
            s.cols = dim == 1.0 ? 19 : 1;
            s.values = Values::ones;
            s.weights = Weights::listed;
            s.listedWeights = edgeSums();
            s.listedIndices = {1.0};
            s.taps = 1;
            s.outLength = edgeSums().size();
            add(s, "rounding");
        }
    }

    // Tap order: sums whose value depends on the order of the additions, or
    // on whether each one is rounded to double (1e16 + 1 is not a double).
    // The last pair is inf, inf, NaN under 1, -1, 1, whose NaN sign follows
    // the compiler's operand order.
    const std::vector<double> orderWeights = {1.0, 1.0, 1.0, 1.0, -1.0, 1.0, 0.5, 0.5, 0.5};
    const std::vector<double> orderIndices = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0};
    for (const zuClassID c : {zuDoubleClass, zuSingleClass, zuInt32Class, zuUint8Class}) {
        for (const double dim : {1.0, 2.0}) {
            Recipe s;
            s.classID = c;
            s.dim = dim;
            s.values = Values::listed;
            const double big = 1e16;
            const std::vector<double> samples = {big, 1.0, -big, kInf, kInf, kNaN, 0.49999999999999994 * 2, 0.0, 0.0};
            for (double v : samples) {
                if (c == zuDoubleClass) {
                    s.listedBits.push_back(std::bit_cast<u64>(v));
                } else if (c == zuSingleClass) {
                    s.listedBits.push_back(std::bit_cast<std::uint32_t>(static_cast<float>(v)));
                } else {
                    // Integer images: the order effect comes from the weights instead.
                    s.listedBits.push_back(static_cast<u64>(std::isfinite(v) && std::fabs(v) < 128 ? v : 1));
                }
            }
            s.rows = dim == 1.0 ? samples.size() : 17;
            s.cols = dim == 1.0 ? 17 : samples.size();
            // Along dimension 2 every row holds the listed samples in its columns.
            if (dim == 2.0) {
                std::vector<u64> byColumn;
                for (u64 col = 0; col < s.cols; ++col) {
                    for (u64 row = 0; row < s.rows; ++row) byColumn.push_back(s.listedBits[col]);
                }
                s.listedBits = byColumn;
            }
            s.weights = Weights::listed;
            s.taps = 3;
            s.outLength = 3;
            s.listedIndices = orderIndices;
            s.listedWeights = c == zuDoubleClass || c == zuSingleClass
                                  ? orderWeights
                                  : std::vector<double>{1e16, 1.0, -1e16, 0.25, 0.24999999999999997, 0.0,
                                                        0.5, 0.49999999999999994, -0.5};
            add(s, "taporder");
        }
    }

    // Special weights (+-0, +-inf, NaN, tiny and huge) over random samples.
    for (const zuClassID c : kClasses) {
        for (const double dim : {1.0, 2.0}) {
            Recipe s;
            s.classID = c;
            s.complex = c == zuDoubleClass || c == zuInt16Class;
            s.dim = dim;
            s.rows = 13;
            s.cols = 11;
            s.taps = 3;
            s.outLength = 10;
            s.weights = Weights::special;
            add(s, "special");
        }
    }

    // 64-bit loads and stores: the elements whose doubles are not the
    // nearest one, the tops and bottoms, under weights 1, -1 and 0.5.
    const std::vector<u64> int64Edges = {0x7FFFFFFFFFFFFFFFu, 0x8000000000000000u, (u64{1} << 53) + 1,
                                         ~((u64{1} << 53) + 1) + 1, 9223372036854774784u, 1, 0};
    const std::vector<u64> uint64Edges = {~u64{0}, u64{1} << 63, 9223372036854776833u, 16140901064495856639u,
                                          9223372036854777855u, (u64{1} << 53) + 1, 9223372036854777856u, 0};
    for (const zuClassID c : {zuInt64Class, zuUint64Class}) {
        for (const double dim : {1.0, 2.0}) {
            for (const double w : {1.0, -1.0, 0.5}) {
                Recipe s;
                s.classID = c;
                s.dim = dim;
                s.values = Values::listed;
                s.listedBits = c == zuInt64Class ? int64Edges : uint64Edges;
                s.rows = dim == 1.0 ? s.listedBits.size() : 1;
                s.cols = dim == 1.0 ? 1 : s.listedBits.size();
                s.weights = Weights::listed;
                s.listedWeights = {w};
                s.taps = 1;
                s.outLength = s.listedBits.size();
                for (u64 i = 1; i <= s.listedBits.size(); ++i) s.listedIndices.push_back(static_cast<double>(i));
                add(s, w == 1.0 ? "loadstore64-w1" : w == -1.0 ? "loadstore64-wminus1" : "loadstore64-whalf");
            }
        }
    }

    // Empty outputs and refused calls.
    for (const zuClassID c : {zuDoubleClass, zuUint16Class}) {
        Recipe noLength;
        noLength.classID = c;
        noLength.rows = 4;
        noLength.cols = 3;
        noLength.taps = 2;
        noLength.outLength = 0;
        add(noLength, "empty");
        Recipe noRows = noLength;
        noRows.rows = 0;
        noRows.outLength = 3;
        noRows.dim = 2.0;
        noRows.listedIndices = {1.0};
        add(noRows, "empty");
        Recipe outside = noLength;
        outside.outLength = 2;
        outside.listedIndices = {1.0, 5.0};
        add(outside, "refused-index");
    }
    Recipe unlisted;
    unlisted.classID = zuClassID{4};  // an identifier the module does not list
    unlisted.rows = 3;
    unlisted.cols = 2;
    unlisted.listedIndices = {9.0};
    add(unlisted, "refused-class");

    // Pixel-interleaved images along dimension 2: 1 to 8 channels by
    // columns by image rows, every class, real and complex, with enough
    // image rows for lanes across them at every level; taps from 0 to 40 at
    // random columns, some spread wider than one tile of 8-channel pixels.
    const u64 interleavedTaps[] = {0, 1, 2, 4, 7, 16, 40};
    const u64 interleavedCols[] = {5, 23, 40};
    const u64 interleavedPlanes[] = {9, 17, 33};
    const u64 interleavedLengths[] = {1, 3, 10, 21};
    u64 n = 0;
    for (const zuClassID c : kClasses) {
        for (u64 channels = 1; channels <= 8; ++channels) {
            Recipe s;
            s.classID = c;
            s.complex = c != zuLogicalClass && n % 3 == 1;
            s.dim = 2.0;
            s.rows = channels;
            s.cols = interleavedCols[n % std::size(interleavedCols)];
            s.planes = interleavedPlanes[(n / 3) % std::size(interleavedPlanes)];
            s.taps = interleavedTaps[n % std::size(interleavedTaps)];
            s.outLength = interleavedLengths[(n / 2) % std::size(interleavedLengths)];
            s.values = n % 2 == 0 ? Values::moderate : Values::wide;
            add(s, "interleaved");
            ++n;
        }
    }
    return recipes;
}

const std::vector<Recipe>& recipes() {
    static const std::vector<Recipe> all = allRecipes();
    return all;
}

// Appends an unsigned value as `bytes` little-endian bytes.
void putLittleEndian(std::vector<std::uint8_t>& out, u64 value, int bytes) {
    for (int b = 0; b < bytes; ++b) out.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
}

// The element's bit pattern as an integer (native order), then little-endian
// bytes; floating-point NaNs as the one positive quiet NaN.
void putElements(std::vector<std::uint8_t>& out, const void* data, u64 count, zuClassID classID) {
    const std::size_t size = zuhost::elementSize(classID);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (u64 n = 0; n < count; ++n) {
        const std::uint8_t* element = bytes + n * size;
        u64 value = 0;
        if (size == 8) {
            std::memcpy(&value, element, 8);
            if (classID == zuDoubleClass && std::isnan(std::bit_cast<double>(value))) value = 0x7FF8000000000000u;
        } else if (size == 4) {
            std::uint32_t v;
            std::memcpy(&v, element, 4);
            if (classID == zuSingleClass && std::isnan(std::bit_cast<float>(v))) v = 0x7FC00000u;
            value = v;
        } else if (size == 2) {
            std::uint16_t v;
            std::memcpy(&v, element, 2);
            value = v;
        } else {
            value = element[0];
        }
        putLittleEndian(out, value, static_cast<int>(size));
    }
}

}  // namespace

std::size_t caseCount() { return recipes().size(); }

GoldenCase makeCase(std::size_t n) { return build(recipes().at(n)); }

std::string digestOf(const zuhost::CallOutcome& outcome) {
    std::vector<std::uint8_t> bytes;
    if (outcome.failed || outcome.output == nullptr) {
        const std::string text = "error " + outcome.identifier;
        bytes.assign(text.begin(), text.end());
    } else {
        const zuArray& out = *outcome.output;
        const std::vector<u64> extents = zuhost::extents(out);
        putLittleEndian(bytes, static_cast<u64>(out.classID()), 4);
        putLittleEndian(bytes, out.isComplex() ? 1 : 0, 1);
        putLittleEndian(bytes, extents.size(), 8);
        for (const u64 e : extents) putLittleEndian(bytes, e, 8);
        const u64 count = zuhost::numberOfElements(out);
        putElements(bytes, out.realData, count, out.classID());
        if (out.isComplex()) putElements(bytes, out.imagData, count, out.classID());
    }
    axiswarp::testing::Sha256 sha;
    sha.add(bytes);
    return sha.hex();
}

std::vector<GoldenLine> parseGoldenFile(const std::string& text) {
    std::vector<GoldenLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        GoldenLine entry;
        if (fields >> entry.name >> entry.digest) lines.push_back(entry);
    }
    return lines;
}

}  // namespace axiswarp::golden

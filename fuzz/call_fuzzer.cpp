// Fuzz target: one call of the built module through the stand-in host.
//
// The fuzz bytes decode into 0 to 6 host arrays of any class, flags, shape and
// data, biased towards calls that get past the argument checks so that the
// setup, the index table and the kernels see most of the inputs. The oracle
// predicts the whole outcome independently of the module: which check fails
// first (with its exact identifier and message), or, for a call that
// succeeds, the output's class, complexity and extents and every output
// element, recomputed by a plain loop over the taps. It also requires the
// host's live array and block counts to be back where they were once the
// output is released. Any difference aborts, which the fuzzer records as a
// crash.
//
// The output samples are recomputed by the plain reference kernels of the
// test tree (tests/support/reference_resample.hpp), the same oracle the
// kernel and end-to-end tests use; what the fuzzer adds is everything around
// them: shapes, dispatch, offsets, traversal, the complex pass and the host
// bookkeeping.
#include <zuhost/standin_host.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "byte_reader.hpp"
#include "reference_resample.hpp"

#ifndef AXISWARP_MODULE_PATH
#error "AXISWARP_MODULE_PATH must name the built module file"
#endif

namespace {

using axiswarp::fuzz::ByteReader;
using zuhost::ArrayOptions;
using zuhost::ArrayPtr;

// Bounds that keep one execution short: no array holds more than
// kMaxElements elements, and a call whose work (taps times output samples,
// bounded by the weights' size times the image's) would exceed kMaxWork is
// not made. The largest extents still cross every block, strip, tile and
// gather size of the vectorised kernels.
constexpr std::uint64_t kMaxElements = 4096;
constexpr std::uint64_t kMaxWork = std::uint64_t{1} << 20;
constexpr int kMaxInputs = 6;

struct Expected {
    const char* identifier;
    const char* message;
};

constexpr Expected kInvalidNumInputs{"Ovela:axisWarp:invalidNumInputs", "Four inputs are required."};
constexpr Expected kInvalidImage{"Ovela:axisWarp:invalidImage",
                                 "First input must be a full numeric or logical array."};
constexpr Expected kTooManyDims{"Ovela:axisWarp:tooManyDims",
                                "First input must be two- or three-dimensional."};
constexpr Expected kBadWeights{"Ovela:axisWarp:badWeights",
                               "Weights must be a full two-dimensional double array."};
constexpr Expected kBadIndices{"Ovela:axisWarp:badIndices",
                               "Indices must be a full two-dimensional double array."};
constexpr Expected kSizeMismatch{"Ovela:axisWarp:sizeMismatch",
                                 "Weights and indices must be the same size."};
constexpr Expected kInvalidDim{"Ovela:axisWarp:invalidDim", "Invalid dimension is specified."};
constexpr Expected kInvalidInputClass{"Ovela:axisWarp:invalidInputClass",
                                      "Input image must be numeric or logical."};
constexpr Expected kIndexOutOfRange{
    "Ovela:axisWarp:indexOutOfRange",
    "Indices must lie between 1 and the image's extent along the resized dimension."};

constexpr zuClassID kListedClasses[] = {zuDoubleClass, zuSingleClass, zuInt8Class,   zuUint8Class,
                                        zuInt16Class,  zuUint16Class, zuInt32Class,  zuUint32Class,
                                        zuInt64Class,  zuUint64Class, zuLogicalClass};

bool isListed(zuClassID classID) {
    for (zuClassID listed : kListedClasses) {
        if (listed == classID) return true;
    }
    return false;
}

const zuhost::Module& module() {
    static const zuhost::Module loaded(AXISWARP_MODULE_PATH);
    return loaded;
}

// ---------------------------------------------------------------------------
// Decoding

enum class Role { Image, Weights, Indices, Dim, Extra };

Role roleOf(int position) {
    switch (position) {
        case 0: return Role::Image;
        case 1: return Role::Weights;
        case 2: return Role::Indices;
        case 3: return Role::Dim;
        default: return Role::Extra;
    }
}

double nextBelow(double x) { return std::nextafter(x, -std::numeric_limits<double>::infinity()); }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double decodeWeight(ByteReader& r) {
    const unsigned choice = r.below(24);
    switch (choice) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return 1.0;
        case 3: return -1.0;
        case 4: return 0.5;
        case 5: return 0.25;
        case 6: return -0.125;
        case 7: return 2.0;
        case 8: return 1.0 / 3.0;
        case 9: return 255.5;
        case 10: return -1000.0;
        case 11: return 0x1p53;
        case 12: return 1e308;
        case 13: return -1e308;
        case 14: return kNaN;
        case 15: return kInf;
        case 16: return -kInf;
        case 17: return std::numeric_limits<double>::denorm_min();
        case 18: return 0x1p-1074 * 3.0;
        case 19: return 0.1;
        default: return r.raw<double>();
    }
}

// Index values: mostly inside 1 <= x < extent + 1, otherwise on and around
// its edges and far outside it.
double decodeIndex(ByteReader& r, std::uint64_t extent) {
    const std::uint8_t selector = r.byte();
    const double e = static_cast<double>(extent);
    if (selector < 200) {
        // Two bytes pick the position along extents too long for one.
        const std::uint64_t pick = extent > 255 ? r.raw<std::uint16_t>() : r.byte();
        const double whole = 1.0 + static_cast<double>(extent == 0 ? 0 : pick % extent);
        // The largest double below the next position: whole + nextBelow(1.0)
        // would round up to it from 2 on.
        const unsigned fraction = r.below(6);
        return fraction == 5 ? nextBelow(whole + 1.0) : whole + std::array{0.0, 0.0, 0.5, 0.25, 0.999999}[fraction];
    }
    switch (selector % 20) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return 0.5;
        case 3: return nextBelow(1.0);
        case 4: return e + 1.0;
        case 5: return nextBelow(e + 1.0);
        case 6: return e + 1.5;
        case 7: return -1.0;
        case 8: return kNaN;
        case 9: return kInf;
        case 10: return -kInf;
        case 11: return 0x1p63;
        case 12: return 0x1p64;
        case 13: return 1e300;
        case 14: return -1e300;
        case 15: return e;
        case 16: return 0x1p52 + 0.5;
        case 17: return 4294967297.0;
        default: return r.raw<double>();
    }
}

double decodeDimValue(ByteReader& r) {
    return r.pick({1.0, 2.0, 1.0, 2.0, 1.5, nextBelow(2.0), 0.99, 3.0, 0.0, -0.0, -1.0, kNaN, kInf,
                   -kInf, 2147483648.0, -2147483649.0, 1e300, 4294967297.0});
}

zuClassID decodeClass(ByteReader& r, Role role) {
    const std::uint8_t mode = r.byte();
    if (mode < 200) {
        if (role == Role::Image || role == Role::Extra) return kListedClasses[r.below(11)];
        return zuDoubleClass;
    }
    if (mode < 250) return static_cast<zuClassID>(r.below(zuLastPlainClass + 1));
    // Anything at all, including identifiers the host has never heard of.
    return r.raw<std::int32_t>();
}

ArrayOptions decodeOptions(ByteReader& r) {
    const std::uint8_t flags = r.byte();
    ArrayOptions options;
    options.complexity = (flags & 0x01) != 0 ? zuCOMPLEX : zuREAL;
    options.sparse = (flags & 0x0E) == 0x0E;
    switch ((flags >> 4) & 0x07) {
        case 6: options.numeric = ArrayOptions::Numeric::Set; break;
        case 7: options.numeric = ArrayOptions::Numeric::Clear; break;
        default: options.numeric = ArrayOptions::Numeric::Default; break;
    }
    if ((flags & 0x80) != 0 && r.byte() < 64) {
        options.storedAlias = static_cast<zuClassID>(zuLastPlainClass + 1 + r.below(200));
    }
    return options;
}

std::uint64_t decodeExtent(ByteReader& r) {
    const std::uint8_t b = r.byte();
    // Mostly 0 to 8; often 9 to 40, enough for full blocks of eight output
    // columns, vectors of rows and groups of gathered taps with remainders;
    // now and then up to 551, past the kernels' tile and strip sizes.
    if (b < 128) return b % 9;
    if (b < 224) return 9 + (b - 128) % 32;
    return 41 + 2 * std::uint64_t{r.byte()};
}

std::vector<std::uint64_t> decodeShape(ByteReader& r, Role role) {
    const std::uint8_t mode = r.byte();
    std::size_t rank = 2;
    if (mode >= 224) {
        rank = r.below(6);  // 0 to 5 requested extents; the host pads to two
    } else if (role == Role::Image && mode % 4 == 3) {
        rank = 3;
    } else if (role == Role::Dim && mode < 160) {
        return {1, 1};
    }
    std::vector<std::uint64_t> dims;
    std::uint64_t count = 1;
    for (std::size_t d = 0; d < rank; ++d) {
        std::uint64_t extent = decodeExtent(r);
        if (count * extent > kMaxElements) extent = kMaxElements / count;
        count *= extent == 0 ? 1 : extent;
        dims.push_back(extent);
    }
    return dims;
}

std::size_t storageSize(zuClassID classID) { return std::max<std::size_t>(zuhost::elementSize(classID), 1); }

struct Call {
    std::vector<ArrayPtr> arrays;
    double dimValue = 0.0;
    int outputCount = 1;
};

void fillDoubles(ByteReader& r, double* data, std::uint64_t count, Role role, std::uint64_t extent,
                 double dimValue) {
    for (std::uint64_t e = 0; e < count; ++e) {
        switch (role) {
            case Role::Weights: data[e] = decodeWeight(r); break;
            case Role::Indices: data[e] = decodeIndex(r, extent); break;
            case Role::Dim: data[e] = e == 0 ? dimValue : decodeWeight(r); break;
            default: data[e] = r.raw<double>(); break;
        }
    }
}

Call decodeCall(ByteReader& r) {
    Call call;
    const std::uint8_t countByte = r.byte();
    const int inputs = countByte < 224 ? 4 : countByte % (kMaxInputs + 1);
    call.outputCount = static_cast<int>(r.below(3));
    call.dimValue = decodeDimValue(r);
    // The input format keeps a byte that once chose the instruction-set
    // level per call. The module reads AXISWARP_SIMD once per process, so
    // fuzz/run.sh runs this fuzzer once per level instead; the byte is read
    // and ignored, so that kept inputs decode as they always did.
    (void)r.pick<int>({0, 1, 2, 3});

    std::vector<std::uint64_t> weightShape;
    for (int position = 0; position < inputs; ++position) {
        const Role role = roleOf(position);
        const zuClassID classID = decodeClass(r, role);
        const ArrayOptions options = decodeOptions(r);
        std::vector<std::uint64_t> shape;
        if (role == Role::Indices && r.byte() < 220) {
            shape = weightShape;  // the same size as the weights, most of the time
        } else {
            shape = decodeShape(r, role);
        }
        if (role == Role::Weights) weightShape = shape;

        ArrayPtr array = zuhost::createArray(classID, shape, options);
        const std::uint64_t count = zuhost::numberOfElements(*array);

        // The extent the indices must stay within, as the module will see it.
        std::uint64_t extent = 4;
        if (!call.arrays.empty()) {
            const zuArray& image = *call.arrays.front();
            const bool dim1 = call.dimValue >= 1.0 && call.dimValue < 2.0;
            extent = image.dims[dim1 ? 0 : 1];
        }

        void* parts[2] = {array->realData, array->imagData};
        for (void* part : parts) {
            if (part == nullptr) continue;
            if (classID == zuDoubleClass && role != Role::Image && role != Role::Extra) {
                fillDoubles(r, static_cast<double*>(part), count, role, extent, call.dimValue);
            } else {
                r.bytes(part, count * storageSize(classID));
            }
        }
        call.arrays.push_back(std::move(array));
    }
    return call;
}

// ---------------------------------------------------------------------------
// The oracle

template <class... Parts>
std::string text(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

std::string describe(const Call& call) {
    std::ostringstream text;
    text << "call with " << call.arrays.size() << " inputs, dim value " << call.dimValue << ", outputCount "
         << call.outputCount << ", AXISWARP_SIMD " << (std::getenv("AXISWARP_SIMD") != nullptr ? std::getenv("AXISWARP_SIMD") : "unset") << "\n";
    for (const ArrayPtr& array : call.arrays) {
        text << "  class " << array->classID() << " (stored " << array->storedClassID << "), extents";
        for (std::uint64_t d = 0; d < array->numDims; ++d) text << " " << array->dims[d];
        text << (array->numericData ? ", numeric" : ", not numeric");
        if (array->sparse) text << ", sparse";
        if (array->imagData != nullptr) text << ", complex";
        text << "\n";
    }
    return text.str();
}

[[noreturn]] void fail(const Call& call, const std::string& what) {
    std::fprintf(stderr, "call fuzzer: %s\n%s", what.c_str(), describe(call).c_str());
    std::abort();
}

bool isFullDouble(const zuArray& array) { return array.classID() == zuDoubleClass && !array.sparse; }

// What a successful call must return, or the error it must end with.
struct Prediction {
    const Expected* error = nullptr;
    bool dim1 = false;
    std::uint64_t rows = 0, cols = 0, planes = 0, taps = 0, outLength = 0;
    zuClassID outClass = zuClassID{0};
    bool complex = false;
    std::vector<std::uint64_t> outExtents;
    std::vector<std::uint64_t> positions;  // zero-based positions along the resized dimension
};

Prediction predict(const Call& call) {
    Prediction p;
    if (call.arrays.size() != 4) {
        p.error = &kInvalidNumInputs;
        return p;
    }
    const zuArray& image = *call.arrays[0];
    const zuArray& weights = *call.arrays[1];
    const zuArray& indices = *call.arrays[2];
    const zuArray& dim = *call.arrays[3];

    if (!image.numericData || image.sparse) p.error = &kInvalidImage;
    else if (image.numDims > 3) p.error = &kTooManyDims;
    else if (!isFullDouble(weights) || weights.numDims != 2) p.error = &kBadWeights;
    else if (!isFullDouble(indices)) p.error = &kBadIndices;
    else if (indices.numDims != weights.numDims) p.error = &kSizeMismatch;
    else if (weights.dims[0] != indices.dims[0] || weights.dims[1] != indices.dims[1]) p.error = &kSizeMismatch;
    else if (!isFullDouble(dim)) p.error = &kInvalidDim;
    if (p.error != nullptr) return p;

    p.rows = image.dims[0];
    p.cols = image.dims[1];
    p.planes = image.numDims == 3 ? image.dims[2] : 1;
    p.taps = weights.dims[0];
    p.outLength = weights.dims[1];
    const double v = zuhost::numberOfElements(dim) == 0 ? 0.0 : static_cast<const double*>(dim.realData)[0];
    p.dim1 = v >= 1.0 && v < 2.0;
    p.outClass = image.classID() == zuLogicalClass ? zuUint8Class : image.classID();
    p.complex = image.imagData != nullptr;

    std::vector<std::uint64_t> extents = {p.dim1 ? p.outLength : p.rows, p.dim1 ? p.cols : p.outLength,
                                          p.planes};
    if (extents.back() == 1) extents.pop_back();
    p.outExtents = extents;
    const std::uint64_t outCount = extents[0] * extents[1] * (extents.size() == 3 ? extents[2] : 1);

    // An unlisted class runs no kernel, so its index table is not judged;
    // nor is that of an empty output, from which nothing is read.
    if (!isListed(image.classID())) {
        p.error = &kInvalidInputClass;
        return p;
    }
    const std::uint64_t count = p.taps * p.outLength;
    const std::uint64_t extent = p.dim1 ? p.rows : p.cols;
    const auto* values = static_cast<const double*>(indices.realData);
    if (outCount != 0) {
        for (std::uint64_t e = 0; e < count; ++e) {
            const double x = values[e];
            const bool inside = x >= 1.0 && x < static_cast<double>(extent) + 1.0;
            if (!inside) {
                p.error = &kIndexOutOfRange;
                return p;
            }
            p.positions.push_back(static_cast<std::uint64_t>(std::floor(x)) - 1);
        }
    }
    return p;
}

// Recomputes one part (real or imaginary) with the plain reference kernels
// of the test tree and compares it with what the module wrote.
template <class T>
void checkPart(const Call& call, const Prediction& p, const void* sourceData, const void* targetData,
               const char* part) {
    const auto* source = static_cast<const T*>(sourceData);
    const auto* target = static_cast<const T*>(targetData);
    const auto* weights = static_cast<const double*>(call.arrays[1]->realData);
    const std::uint64_t outRows = p.dim1 ? p.outLength : p.rows;
    const std::uint64_t outCols = p.dim1 ? p.cols : p.outLength;
    if (outRows * outCols * p.planes == 0) return;
    std::vector<std::uint64_t> offsets(p.positions.size());
    for (std::size_t k = 0; k < offsets.size(); ++k) offsets[k] = p.dim1 ? p.positions[k] : p.positions[k] * p.rows;
    std::vector<T> expected(outRows * outCols * p.planes);
    axiswarp::reference::referenceResample<T>(p.dim1 ? 1 : 2, source, p.rows, p.cols, p.planes, expected.data(),
                                              p.outLength, weights, p.taps, offsets.data());
    for (std::uint64_t n = 0; n < expected.size(); ++n) {
        if (!axiswarp::reference::identicalSamples(target[n], expected[n])) {
            const std::uint64_t i = n % outRows, j = n / outRows % outCols, plane = n / (outRows * outCols);
            fail(call, text(part, " part differs at (", i, ", ", j, ", ", plane, ")"));
        }
    }
}

template <class T>
void checkValues(const Call& call, const Prediction& p, const zuArray& output) {
    const zuArray& image = *call.arrays[0];
    checkPart<T>(call, p, image.realData, output.realData, "real");
    if (p.complex) checkPart<T>(call, p, image.imagData, output.imagData, "imaginary");
}

void checkOutput(const Call& call, const Prediction& p, const zuArray* output) {
    if (output == nullptr) fail(call, "the call succeeded without an output");
    if (output->classID() != p.outClass) {
        fail(call, text("output class ", output->classID(), ", expected ", p.outClass));
    }
    if (output->sparse || !output->numericData) fail(call, "output is not a full numeric array");
    if ((output->imagData != nullptr) != p.complex) fail(call, "output complexity differs from the image's");
    const std::vector<std::uint64_t> extents = zuhost::extents(*output);
    if (extents != p.outExtents) {
        std::ostringstream got;
        for (std::uint64_t e : extents) got << " " << e;
        fail(call, text("output extents", got.str()));
    }
    switch (p.outClass) {
        case zuDoubleClass: checkValues<double>(call, p, *output); break;
        case zuSingleClass: checkValues<float>(call, p, *output); break;
        case zuInt8Class: checkValues<std::int8_t>(call, p, *output); break;
        case zuUint8Class: checkValues<std::uint8_t>(call, p, *output); break;
        case zuInt16Class: checkValues<std::int16_t>(call, p, *output); break;
        case zuUint16Class: checkValues<std::uint16_t>(call, p, *output); break;
        case zuInt32Class: checkValues<std::int32_t>(call, p, *output); break;
        case zuUint32Class: checkValues<std::uint32_t>(call, p, *output); break;
        case zuInt64Class: checkValues<std::int64_t>(call, p, *output); break;
        case zuUint64Class: checkValues<std::uint64_t>(call, p, *output); break;
        default: fail(call, "unexpected output class");
    }
}

}  // namespace

// The module is loaded before the first input, so that libFuzzer registers
// its coverage counters with those of the fuzzer binary from the start.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    module();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader reader(data, size);
    const Call call = decodeCall(reader);
    const Prediction prediction = predict(call);

    std::vector<const zuArray*> args;
    std::uint64_t work = 1;
    for (const ArrayPtr& array : call.arrays) {
        args.push_back(array.get());
        if (args.size() <= 2) work *= std::max<std::uint64_t>(zuhost::numberOfElements(*array), 1);
    }
    if (work > kMaxWork) return 0;

    const zuhost::Counts before = zuhost::liveCounts();
    zuhost::CallOutcome outcome = module().call(args, call.outputCount);

    if (prediction.error != nullptr) {
        if (!outcome.failed) fail(call, text("the call succeeded; expected ", prediction.error->identifier));
        if (outcome.identifier != prediction.error->identifier || outcome.message != prediction.error->message) {
            fail(call, text("the call ended with ", outcome.identifier, " \"", outcome.message, "\"; expected ",
                            prediction.error->identifier, " \"", prediction.error->message, "\""));
        }
        if (outcome.output != nullptr) fail(call, "a failed call returned an output");
    } else {
        if (outcome.failed) fail(call, text("the call failed with ", outcome.identifier, " \"", outcome.message, "\""));
        checkOutput(call, prediction, outcome.output.get());
    }
    // AXISWARP_FUZZ_VERBOSE=1 shows what each input decoded to (for checking seeds).
    static const bool verbose = std::getenv("AXISWARP_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        std::fprintf(stderr, "%s-> %s\n", describe(call).c_str(),
                     outcome.failed ? outcome.identifier.c_str() : "output as predicted");
    }
    outcome.output.reset();
    if (!(zuhost::liveCounts() == before)) fail(call, "the call left host arrays or blocks behind");
    return 0;
}

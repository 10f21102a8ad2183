// Kernel benchmarks on realistic resize jobs.
//
// Every job is timed four ways in the same run:
//   fast    the kernels the module runs (the active kernel table: the widest
//           level available, or the one AXISWARP_SIMD pins);
//   sse2, avx2
//           the same kernels at a lower vector level, where the processor
//           has a wider one (the speed-up of each level over the next);
//   plain   the plain template kernels (resampleDim1 / resampleDim2), which
//           the module ran before the vectorised ones;
//   oracle  the test suite's reference model, one sample at a time;
//   memcpy  a copy moving as many bytes as the job reads and writes (half of
//           them read, half written), the memory-bandwidth limit.
// J1 and J2 are also timed as whole calls of the built module through the
// stand-in host (table to offsets, output array, kernels), two calls per
// resize, and the host's creation of those output arrays alone. bench/summarize.py turns the medians into ratios.
//
// Items are output samples; bytes are the source read plus the target
// written.
#include <benchmark/benchmark.h>

#include <zuhost/standin_host.hpp>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "kernels/kernel_select.hpp"
#include "kernels/resample_dim1.hpp"
#include "kernels/resample_dim2.hpp"
#include "reference_resample.hpp"
#include "resample/resample_tables.hpp"

namespace {

using u64 = std::uint64_t;
using axiswarp::tools::Kernel;

// One call of a kernel: resize `dim` of an M-by-N-by-P image to `outLength`.
struct Pass {
    int dim;
    u64 rows, cols, planes;
    u64 outLength;
    u64 taps;
    std::vector<double> weights;
    std::vector<u64> offsets;
    std::vector<double> indices;  // the one-based table the module is given

    u64 inCount() const { return rows * cols * planes; }
    u64 outCount() const { return dim == 1 ? outLength * cols * planes : rows * outLength * planes; }
    u64 outRows() const { return dim == 1 ? outLength : rows; }
    u64 outCols() const { return dim == 1 ? cols : outLength; }
};

// Tables from the project's builder; offsets exactly as the gateway makes
// them: (floor(x) - 1), times M along dimension 2.
Pass makePass(int dim, u64 rows, u64 cols, u64 planes, u64 outLength, Kernel kernel, double scale = 0.0) {
    const u64 along = dim == 1 ? rows : cols;
    axiswarp::tools::TableRequest request;
    request.inLength = along;
    request.outLength = outLength;
    request.scale = scale;
    request.filter.kernel = kernel;
    request.filter.antialias = true;
    const axiswarp::tools::Tables tables = axiswarp::tools::buildTables(request);
    Pass pass{dim, rows, cols, planes, outLength, tables.taps, tables.weights, {}, tables.indices};
    const u64 stride = dim == 1 ? 1 : rows;
    for (const double x : tables.indices) pass.offsets.push_back((static_cast<u64>(x) - 1) * stride);
    return pass;
}

// Deterministic content with edges, gradients and texture; the peer script
// (bench/peers.py) builds the same values.
template <class T>
std::vector<T> makeImage(u64 rows, u64 cols, u64 planes) {
    std::vector<T> image(rows * cols * planes);
    u64 n = 0;
    for (u64 p = 0; p < planes; ++p) {
        for (u64 j = 0; j < cols; ++j) {
            for (u64 i = 0; i < rows; ++i) {
                const u64 value = (i * 7 + j * 13 + p * 101 + ((i * j) >> 5)) & 255;
                if constexpr (std::is_floating_point_v<T>) {
                    image[n++] = static_cast<T>(value) / static_cast<T>(255);
                } else if constexpr (std::is_signed_v<T>) {
                    image[n++] = static_cast<T>(static_cast<std::int64_t>(value * 97) - 12000);
                } else {
                    image[n++] = static_cast<T>(value);
                }
            }
        }
    }
    return image;
}

enum class Variant { fast, sse2, avx2, plain, oracle };

template <class T>
void runPass(Variant variant, const Pass& pass, const T* source, T* target) {
    const auto args = std::make_tuple(source, pass.rows, pass.cols, pass.planes, target, pass.outLength,
                                      pass.weights.data(), pass.taps, pass.offsets.data());
    const axiswarp::ResizeJob<T> described{source,      target,         pass.rows, pass.cols,
                                           pass.planes, pass.outLength, pass.taps, pass.offsets.data(),
                                           pass.weights.data(), pass.dim};
    switch (variant) {
        case Variant::fast:
            axiswarp::runPass<T>(axiswarp::activeKernelTable(), described);
            break;
        case Variant::sse2:
            axiswarp::runPass<T>(axiswarp::kernelTableAt(axiswarp::SimdLevel::sse2), described);
            break;
        case Variant::avx2:
            axiswarp::runPass<T>(axiswarp::kernelTableAt(axiswarp::SimdLevel::avx2), described);
            break;
        case Variant::plain:
            (pass.dim == 1 ? &axiswarp::resampleDim1<T> : &axiswarp::resampleDim2<T>)(described);
            break;
        case Variant::oracle:
            std::apply(pass.dim == 1 ? &axiswarp::reference::referenceResampleDim1<T>
                                     : &axiswarp::reference::referenceResampleDim2<T>,
                       args);
            break;
    }
}

// A job: one or more passes in sequence, each reading the previous output.
template <class T>
struct Job {
    std::vector<Pass> passes;
    std::vector<T> source;
    std::vector<std::vector<T>> outputs;  // one per pass

    explicit Job(std::vector<Pass> p) : passes(std::move(p)) {
        const Pass& first = passes.front();
        source = makeImage<T>(first.rows, first.cols, first.planes);
        for (const Pass& pass : passes) outputs.emplace_back(pass.outCount());
    }
    void run(Variant variant) {
        const T* in = source.data();
        for (std::size_t k = 0; k < passes.size(); ++k) {
            runPass<T>(variant, passes[k], in, outputs[k].data());
            in = outputs[k].data();
        }
    }
    u64 outputSamples() const {
        u64 total = 0;
        for (const Pass& pass : passes) total += pass.outCount();
        return total;
    }
    u64 bytesMoved() const {
        u64 total = 0;
        for (const Pass& pass : passes) total += (pass.inCount() + pass.outCount()) * sizeof(T);
        return total;
    }
};

// Jobs are built on first use, so that a filtered run allocates only what it
// times.
template <class T>
void registerJob(const std::string& name, std::function<std::vector<Pass>()> makePasses) {
    auto job = std::make_shared<std::unique_ptr<Job<T>>>();
    auto get = [job, makePasses]() -> Job<T>& {
        if (!*job) *job = std::make_unique<Job<T>>(makePasses());
        return **job;
    };
    const std::pair<const char*, Variant> variants[] = {{"fast", Variant::fast},
                                                        {"sse2", Variant::sse2},
                                                        {"avx2", Variant::avx2},
                                                        {"plain", Variant::plain},
                                                        {"oracle", Variant::oracle}};
    const auto active = axiswarp::activeSimdLevel();
    for (const auto& entry : variants) {
        const Variant variant = entry.second;
        // A level variant only below the active level: at it, it is `fast`.
        if ((variant == Variant::sse2 && active <= axiswarp::SimdLevel::sse2) ||
            (variant == Variant::avx2 && active <= axiswarp::SimdLevel::avx2)) {
            continue;
        }
        benchmark::RegisterBenchmark((name + "/" + entry.first).c_str(), [get, variant](benchmark::State& state) {
            Job<T>& job = get();
            for (auto _ : state) {
                job.run(variant);
                benchmark::DoNotOptimize(job.outputs.back().data());
                benchmark::ClobberMemory();
            }
            state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * job.outputSamples()));
            state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * job.bytesMoved()));
            state.counters["K"] = static_cast<double>(job.passes.front().taps);
        })->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    benchmark::RegisterBenchmark((name + "/memcpy").c_str(), [get](benchmark::State& state) {
        const u64 half = get().bytesMoved() / 2;
        std::vector<char> from(half, 1);
        std::vector<char> to(half, 0);
        for (auto _ : state) {
            std::memcpy(to.data(), from.data(), half);
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * half));
    })->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The whole module, called through the stand-in host as a script would call
// it: one call per pass, the second on the first one's output.
template <class T>
void registerModuleJob(const std::string& name, zuClassID classID, std::function<std::vector<Pass>()> makePasses) {
    benchmark::RegisterBenchmark((name + "/module").c_str(), [classID, makePasses](benchmark::State& state) {
        static const zuhost::Module module(AXISWARP_MODULE_PATH);
        const std::vector<Pass> passes = makePasses();
        const Pass& first = passes.front();
        zuhost::ArrayPtr image = zuhost::createArray(classID, {first.rows, first.cols, first.planes});
        const std::vector<T> content = makeImage<T>(first.rows, first.cols, first.planes);
        std::memcpy(image->realPointer(), content.data(), content.size() * sizeof(T));
        std::vector<zuhost::ArrayPtr> weights, indices, dims;
        for (const Pass& pass : passes) {
            weights.push_back(zuhost::createArray(zuDoubleClass, {pass.taps, pass.outLength}));
            indices.push_back(zuhost::createArray(zuDoubleClass, {pass.taps, pass.outLength}));
            std::memcpy(weights.back()->realPointer(), pass.weights.data(), pass.weights.size() * sizeof(double));
            std::memcpy(indices.back()->realPointer(), pass.indices.data(), pass.indices.size() * sizeof(double));
            dims.push_back(zuhost::createScalar(pass.dim));
        }
        u64 samples = 0;
        u64 bytes = 0;
        for (const Pass& pass : passes) {
            samples += pass.outCount();
            bytes += (pass.inCount() + pass.outCount()) * sizeof(T);
        }
        for (auto _ : state) {
            zuhost::ArrayPtr current;
            const zuArray* input = image.get();
            for (std::size_t k = 0; k < passes.size(); ++k) {
                zuhost::CallOutcome outcome = module.call({input, weights[k].get(), indices[k].get(), dims[k].get()});
                if (outcome.failed || !outcome.output) {
                    state.SkipWithError(("module call failed: " + outcome.message).c_str());
                    return;
                }
                current = std::move(outcome.output);
                input = current.get();
            }
            benchmark::DoNotOptimize(current.get());
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * samples));
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    })->Unit(benchmark::kMillisecond)->UseRealTime();
}

// What the stand-in host spends creating the output arrays of those calls
// (allocation, its poison fill, first-touch page faults): part of the module
// call time that is not the module's.
void registerHostArrays(const std::string& name, zuClassID classID, std::function<std::vector<Pass>()> makePasses) {
    benchmark::RegisterBenchmark((name + "/host-arrays").c_str(), [classID, makePasses](benchmark::State& state) {
        const std::vector<Pass> passes = makePasses();
        for (auto _ : state) {
            for (const Pass& pass : passes) {
                zuhost::ArrayPtr output = zuhost::createArray(classID, {pass.outRows(), pass.outCols(), pass.planes});
                benchmark::DoNotOptimize(output->realPointer());
            }
        }
    })->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The photograph jobs: 3000-by-4000 colour, three planes.
constexpr u64 kPhotoRows = 3000, kPhotoCols = 4000, kPhotoPlanes = 3;

std::vector<Pass> shrinkRowsFirst() {
    return {makePass(1, kPhotoRows, kPhotoCols, kPhotoPlanes, 750, Kernel::cubic),
            makePass(2, 750, kPhotoCols, kPhotoPlanes, 1000, Kernel::cubic)};
}
std::vector<Pass> shrinkColumnsFirst() {
    return {makePass(2, kPhotoRows, kPhotoCols, kPhotoPlanes, 1000, Kernel::cubic),
            makePass(1, kPhotoRows, 1000, kPhotoPlanes, 750, Kernel::cubic)};
}
std::vector<Pass> enlargeRowsFirst() {
    return {makePass(1, kPhotoRows, kPhotoCols, kPhotoPlanes, 6000, Kernel::cubic),
            makePass(2, 6000, kPhotoCols, kPhotoPlanes, 8000, Kernel::cubic)};
}
std::vector<Pass> enlargeColumnsFirst() {
    return {makePass(2, kPhotoRows, kPhotoCols, kPhotoPlanes, 8000, Kernel::cubic),
            makePass(1, kPhotoRows, 8000, kPhotoPlanes, 6000, Kernel::cubic)};
}

// The same photograph pixel-interleaved, as a C-ordered (rows, columns,
// channels) array is to the host: the `channels`-by-4000-by-3000 array. Its
// columns are resized along dimension 2 with M = channels; its rows along
// dimension 2 of the (channels*columns)-by-3000 view, one long first extent.
std::vector<Pass> interleavedRowsFirst(u64 channels) {
    return {makePass(2, channels * kPhotoCols, kPhotoRows, 1, 750, Kernel::cubic),
            makePass(2, channels, kPhotoCols, 750, 1000, Kernel::cubic)};
}
std::vector<Pass> interleavedColumnsFirst(u64 channels) {
    return {makePass(2, channels, kPhotoCols, kPhotoRows, 1000, Kernel::cubic),
            makePass(2, channels * 1000, kPhotoRows, 1, 750, Kernel::cubic)};
}

void registerAll() {
    using axiswarp::uint8;
    // J1: shrink to 750-by-1000, cubic, antialiased. Each pass of both orders,
    // and both pairs: the order is the caller's choice (two calls), and the
    // pairs show which one is cheaper.
    registerJob<uint8>("J1/rows-of-full", [] { return std::vector<Pass>{shrinkRowsFirst()[0]}; });
    registerJob<uint8>("J1/cols-after-rows", [] { return std::vector<Pass>{shrinkRowsFirst()[1]}; });
    registerJob<uint8>("J1/cols-of-full", [] { return std::vector<Pass>{shrinkColumnsFirst()[0]}; });
    registerJob<uint8>("J1/rows-after-cols", [] { return std::vector<Pass>{shrinkColumnsFirst()[1]}; });
    registerJob<uint8>("J1/pair-rows-first", shrinkRowsFirst);
    registerJob<uint8>("J1/pair-cols-first", shrinkColumnsFirst);
    registerModuleJob<uint8>("J1/pair-rows-first", zuUint8Class, shrinkRowsFirst);
    registerHostArrays("J1/pair-rows-first", zuUint8Class, shrinkRowsFirst);
    registerModuleJob<uint8>("J1/pair-cols-first", zuUint8Class, shrinkColumnsFirst);
    registerHostArrays("J1/pair-cols-first", zuUint8Class, shrinkColumnsFirst);

    // J1 on the interleaved image, three channels (RGB) and four (RGBA):
    // the same passes as J1 but both along dimension 2, beside the planar ones.
    // No whole-call jobs: between the passes a caller sees the output again
    // with other extents (bench/python_bench.py times those calls).
    for (const u64 channels : {u64{3}, u64{4}}) {
        const std::string name = "J1i" + std::to_string(channels);
        registerJob<uint8>(name + "/rows-of-full", [channels] { return std::vector<Pass>{interleavedRowsFirst(channels)[0]}; });
        registerJob<uint8>(name + "/cols-after-rows", [channels] { return std::vector<Pass>{interleavedRowsFirst(channels)[1]}; });
        registerJob<uint8>(name + "/cols-of-full", [channels] { return std::vector<Pass>{interleavedColumnsFirst(channels)[0]}; });
        registerJob<uint8>(name + "/rows-after-cols", [channels] { return std::vector<Pass>{interleavedColumnsFirst(channels)[1]}; });
        registerJob<uint8>(name + "/pair-rows-first", [channels] { return interleavedRowsFirst(channels); });
        registerJob<uint8>(name + "/pair-cols-first", [channels] { return interleavedColumnsFirst(channels); });
    }

    // J2: the same image enlarged twice, cubic.
    registerJob<uint8>("J2/rows-of-full", [] { return std::vector<Pass>{enlargeRowsFirst()[0]}; });
    registerJob<uint8>("J2/cols-after-rows", [] { return std::vector<Pass>{enlargeRowsFirst()[1]}; });
    registerJob<uint8>("J2/cols-of-full", [] { return std::vector<Pass>{enlargeColumnsFirst()[0]}; });
    registerJob<uint8>("J2/rows-after-cols", [] { return std::vector<Pass>{enlargeColumnsFirst()[1]}; });
    registerJob<uint8>("J2/pair-rows-first", enlargeRowsFirst);
    registerJob<uint8>("J2/pair-cols-first", enlargeColumnsFirst);
    registerModuleJob<uint8>("J2/pair-rows-first", zuUint8Class, enlargeRowsFirst);
    registerHostArrays("J2/pair-rows-first", zuUint8Class, enlargeRowsFirst);
    registerModuleJob<uint8>("J2/pair-cols-first", zuUint8Class, enlargeColumnsFirst);
    registerHostArrays("J2/pair-cols-first", zuUint8Class, enlargeColumnsFirst);

    // J3: double 2048-by-2048 halved, lanczos3 (antialiased).
    const auto j3 = [] {
        return std::vector<Pass>{makePass(1, 2048, 2048, 1, 1024, Kernel::lanczos3),
                                 makePass(2, 1024, 2048, 1, 1024, Kernel::lanczos3)};
    };
    registerJob<double>("J3/rows", [j3] { return std::vector<Pass>{j3()[0]}; });
    registerJob<double>("J3/cols", [j3] { return std::vector<Pass>{j3()[1]}; });
    registerJob<double>("J3/pair", j3);

    // J4: int16 volume 256-by-256-by-128 enlarged 1.5 times, triangle.
    registerJob<axiswarp::int16>("J4/dim1", [] { return std::vector<Pass>{makePass(1, 256, 256, 128, 384, Kernel::triangle)}; });
    registerJob<axiswarp::int16>("J4/dim2", [] { return std::vector<Pass>{makePass(2, 256, 256, 128, 384, Kernel::triangle)}; });

    // Photograph resizes as image libraries are commonly compared: a
    // 2560-by-1600 RGB image (1600 rows, 2560 columns, 3 planes) to 320x200,
    // 2048x1280 and 5478x3424 (width x height), cubic, antialiased when
    // shrinking, along the columns first. bench/peers.py reports them in
    // source megapixels per second.
    const auto photo = [](u64 width, u64 height) {
        return [width, height] {
            // Width and height change by the same factor in all three sizes.
            return std::vector<Pass>{makePass(2, 1600, 2560, 3, width, Kernel::cubic),
                                     makePass(1, 1600, width, 3, height, Kernel::cubic)};
        };
    };
    for (const auto& [label, width, height] : {std::tuple<const char*, u64, u64>{"P1-320x200", 320, 200},
                                               std::tuple<const char*, u64, u64>{"P2-2048x1280", 2048, 1280},
                                               std::tuple<const char*, u64, u64>{"P3-5478x3424", 5478, 3424}}) {
        const std::string name = label;
        const auto passes = photo(width, height);
        registerJob<uint8>(name + "/pair", passes);
        registerModuleJob<uint8>(name + "/pair", zuUint8Class, passes);
    }

    // J5: single 4096-by-4096, nearest at scale 1 (K = 1): data movement only.
    registerJob<float>("J5/dim1", [] { return std::vector<Pass>{makePass(1, 4096, 4096, 1, 4096, Kernel::nearest)}; });
    registerJob<float>("J5/dim2", [] { return std::vector<Pass>{makePass(2, 4096, 4096, 1, 4096, Kernel::nearest)}; });
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::AddCustomContext("simd_level", axiswarp::simdLevelName(axiswarp::activeSimdLevel()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

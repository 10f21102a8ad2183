// axiswarp tables: write the weight and index tables for one resize as .npy
// files, ready to pass to the module with 'axiswarp call'.
#include "cli/commands.hpp"
#include "cli/border_options.hpp"
#include "cli/option_checks.hpp"

#include "runtime/atomic_file.hpp"
#include "npy/npy_io.hpp"
#include "resample/resample_tables.hpp"
#include "resample/table_arrays.hpp"
#include "resample/resize_pipeline.hpp"
#include "runtime/tool_error.hpp"

#include <zuhost/standin_host.hpp>

#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace axiswarp::cli {

namespace {

struct TablesOptions {
    std::uint64_t inLength = 0;
    std::uint64_t outLength = 0;
    double scale = 0.0;  // 0: M/N
    std::string kernel = "cubic";
    std::string border = "symmetric";
    double fill = 0.0;
    CLI::Option* fillOption = nullptr;
    bool noAntialias = false;
    std::vector<std::string> outputs;  // weights, indices
};

void runTables(const TablesOptions& options) {
    tools::TableRequest request;
    request.inLength = options.inLength;
    request.outLength = options.outLength;
    request.scale = options.scale;
    request.filter.kernel = tools::parseKernel(options.kernel);
    request.filter.border = tools::parseBorder(options.border);
    request.filter.fill = fillValue(options.fillOption, options.fill, request.filter.border);
    request.filter.antialias = !options.noAntialias;
    if (options.outputs.size() != 2)
        throw tools::ToolError("-o takes two files: WEIGHTS.npy INDICES.npy");
    if (tools::fileIdentity(options.outputs[0]) == tools::fileIdentity(options.outputs[1]))
        throw tools::ToolError("'" + options.outputs[0] + "' and '" + options.outputs[1] +
                               "' are the same file; the weights and the indices need two");

    const tools::Tables tables = tools::buildTables(request);
    const tools::TableArrays arrays = tools::tableArrays(tables, 0, UINT64_MAX, true);
    const zuArray* weights = arrays.weights.get();
    const zuArray* indices = arrays.indices.get();

    // Both temporaries exist before either target is replaced, so an
    // unwritable destination leaves both targets as they were.
    tools::AtomicFile weightsFile(options.outputs[0]);
    tools::AtomicFile indicesFile(options.outputs[1]);
    tools::encodeNpy(*weights, [&](std::span<const std::byte> piece) { weightsFile.write(piece); });
    tools::encodeNpy(*indices, [&](std::span<const std::byte> piece) { indicesFile.write(piece); });
    weightsFile.commit();
    indicesFile.commit();
}

}  // namespace

void registerTablesCommand(CLI::App& app) {
    auto options = std::make_shared<TablesOptions>();
    CLI::App* tables = app.add_subcommand(
        "tables", "Write the weight and index tables that resize a length N to M, as .npy files.");
    tables->add_option("N", options->inLength, "Input length (samples along the resized dimension)")
        ->type_name("INT")
        ->check(tableLength(tools::kMaxTableLength))
        ->required();
    tables->add_option("M", options->outLength, "Output length")
        ->type_name("INT")
        ->check(tableLength(tools::kMaxTableLength))
        ->required();
    tables->add_option("-o,--output", options->outputs,
                       "The two files to write: the K-by-M weights, then the K-by-M one-based "
                       "source indices (both double)")
        ->type_name("FILE")
        ->expected(2)
        ->required();
    tables->add_option("--scale", options->scale,
                       "Scale of the geometry, a positive number (default: M/N, which maps the "
                       "input exactly onto the output)")
        ->type_name("S")
        ->check(positiveFiniteScale());
    tables->add_option("--kernel", options->kernel,
                       "Interpolation kernel: nearest, box, triangle, cubic, lanczos2, lanczos3")
        ->type_name("K")
        ->capture_default_str();
    tables->add_flag("--no-antialias", options->noAntialias,
                     "When shrinking, do not widen the kernel by 1/scale (faster, but aliases)");
    tables->add_option("--border", options->border, kBorderHelp)
        ->type_name("B")
        ->capture_default_str();
    options->fillOption = tables->add_option("--fill", options->fill, kFillTablesHelp)
                              ->type_name("V");
    tables->footer(
        "K, the number of taps, is the smallest that represents the resize; every column of\n"
        "weights sums to 1 and lists its source indices in ascending order, and short\n"
        "columns are padded with weight 0. With --border constant and a fill V other than\n"
        "0, positions outside name index N+1: append one sample holding V to the\n"
        "dimension before applying the tables (axiswarp resize does it itself).\n"
        "\n"
        "Examples:\n"
        "  axiswarp tables 6 4 -o weights.npy indices.npy\n"
        "  axiswarp tables 640 160 --kernel lanczos3 -o w.npy i.npy\n"
        "  axiswarp call image.npy w.npy i.npy 1 -o smaller.npy   # apply along dimension 1");
    tables->callback([options] { runTables(*options); });
}

}  // namespace axiswarp::cli

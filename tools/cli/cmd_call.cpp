// axiswarp call: hand the module any number of inputs and save what it returns.
//
// Inputs are passed as given, however many, so that the module's own argument
// checks can be exercised from the command line.
#include "cli/commands.hpp"

#include "runtime/atomic_file.hpp"
#include "npy/npy_io.hpp"
#include "runtime/tool_error.hpp"

#include <zuhost/standin_host.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace axiswarp::cli {

namespace {

struct CallOptions {
    std::string module;
    std::vector<std::string> arguments;
    std::string output;
    unsigned repeat = 1;
    bool timed = false;  // --repeat given, even as 1
    tools::NpyReadOptions read;
};

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A real number as typed: decimal or exponent form, nan, inf; the whole text
// must be consumed. from_chars keeps this independent of the C locale.
zuhost::ArrayPtr parseScalarArgument(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error == std::errc::invalid_argument ||
        end != digits.data() + digits.size()) {
        throw tools::ToolError("argument '" + text +
                               "' is neither a .npy file nor a real number");
    }
    if (error == std::errc::result_out_of_range) {
        throw tools::ToolError("argument '" + text + "' is out of the range of a double");
    }
    return zuhost::createScalar(value);
}

bool isFileArgument(const std::string& text) { return endsWith(text, ".npy"); }

zuhost::ArrayPtr loadArgument(const std::string& text, const tools::NpyReadOptions& read) {
    if (!isFileArgument(text)) return parseScalarArgument(text);
    try {
        return tools::readNpy(text, read);
    } catch (const tools::LimitError& error) {
        throw tools::ToolError(std::string(error.what()) + " (raise it with --max-input-bytes)");
    }
}

// Writing over a file the call reads would lose it for good.
void refuseOverwritingInputs(const CallOptions& options) {
    const std::string output = tools::fileIdentity(options.output);
    std::vector<std::string> inputs;
    for (const std::string& argument : options.arguments) {
        if (isFileArgument(argument)) inputs.push_back(argument);
    }
    if (!options.module.empty()) inputs.push_back(options.module);
    for (const std::string& input : inputs) {
        if (tools::fileIdentity(input) == output) {
            throw tools::ToolError("'" + options.output + "' would replace the input '" + input +
                                   "'; choose another output");
        }
    }
}

// One line whatever the module put in its message.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

void reportTimes(std::vector<double> milliseconds) {
    std::sort(milliseconds.begin(), milliseconds.end());
    const std::size_t n = milliseconds.size();
    const double median = n % 2 == 1 ? milliseconds[n / 2]
                                     : (milliseconds[n / 2 - 1] + milliseconds[n / 2]) / 2.0;
    std::fprintf(stderr, "axiswarp: module call over %zu %s: min %.6f ms, median %.6f ms\n", n,
                 n == 1 ? "run" : "runs", milliseconds.front(), median);
}

void runCall(const CallOptions& options) {
    refuseOverwritingInputs(options);
    std::vector<zuhost::ArrayPtr> inputs;
    inputs.reserve(options.arguments.size());
    for (const std::string& argument : options.arguments) {
        inputs.push_back(loadArgument(argument, options.read));
    }
    std::vector<const zuArray*> pointers;
    for (const zuhost::ArrayPtr& input : inputs) pointers.push_back(input.get());

    const std::string modulePath =
        options.module.empty() ? defaultModulePath().string() : options.module;
    const zuhost::Module module(modulePath);

    // Opened before the call so that an unwritable destination is reported
    // before any work; left uncommitted, it disappears without a trace.
    tools::AtomicFile output(options.output);

    zuhost::CallOutcome outcome;
    std::vector<double> milliseconds;
    for (unsigned run = 0; run < options.repeat; ++run) {
        const auto start = std::chrono::steady_clock::now();
        outcome = module.call(pointers);
        const auto stop = std::chrono::steady_clock::now();
        if (outcome.failed) {
            std::cerr << oneLine(outcome.identifier) << ": " << oneLine(outcome.message) << '\n';
            throw Exit{kExitModuleError};
        }
        milliseconds.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    if (options.timed) reportTimes(milliseconds);
    if (!outcome.output) {
        std::cerr << "axiswarp: the module returned without setting its first output\n";
        throw Exit{kExitModuleError};
    }
    tools::npyDescr(outcome.output->classID(), outcome.output->isComplex());
    tools::encodeNpy(*outcome.output,
                     [&](std::span<const std::byte> piece) { output.write(piece); });
    output.commit();
}

}  // namespace

void registerCallCommand(CLI::App& app) {
    auto options = std::make_shared<CallOptions>();
    CLI::App* call = app.add_subcommand(
        "call", "Call the module with the given inputs and save its first output as .npy.");
    call->add_option("ARG", options->arguments,
                     "Module inputs, in order, as many as given: a file ending in .npy is "
                     "loaded, anything else is read as a real number (1, 1.5, -1, nan, inf) "
                     "and passed as a 1-by-1 double");
    call->add_option("-o,--output", options->output, "Where to write the first output (.npy)")
        ->required();
    call->add_option("--module", options->module,
                     "Module file to load (default: the module this build made)");
    CLI::Option* repeat = call->add_option("--repeat", options->repeat,
                     "Call the module N times and print the minimum and median time of the "
                     "call alone on stderr")
        ->check(CLI::Range(1u, 1000000u));
    call->add_option("--max-input-bytes", options->read.maxDataBytes,
                     "Refuse a .npy input whose data is larger than N bytes (a guard against "
                     "damaged or hostile headers)")
        ->type_name("N")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    call->footer(
        "Example (resize a 6-by-8 image to 4-by-8 along dimension 1):\n"
        "  axiswarp call examples/ramp_uint8.npy examples/weights.npy examples/indices.npy 1 "
        "-o out.npy\n"
        "A negative value that starts with a letter, such as -inf, must follow '--':\n"
        "  axiswarp call -o out.npy -- image.npy weights.npy indices.npy -inf");
    call->callback([options, repeat] {
        options->timed = repeat->count() > 0;
        runCall(*options);
    });
}

}  // namespace axiswarp::cli

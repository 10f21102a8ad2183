// End-to-end tests of `axiswarp call`: the built binary run in a scratch folder.
#include "npy/npy_io.hpp"

#include "cli_sandbox.hpp"
#include "host_arrays.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using axiswarp::testing::realValues;

using axiswarp::testing::RunResult;

class CliCall : public axiswarp::testing::CliSandbox {
protected:
    static std::string slurp(const fs::path& path) { return axiswarp::testing::readFileText(path); }

    std::vector<std::string> filesInWork() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(work())) names.push_back(entry.path().filename());
        return names;
    }

    static std::string example(const char* name) { return std::string(AXISWARP_EXAMPLES_DIR) + "/" + name; }
};

TEST_F(CliCall, HelpExplainsUsageWithAnExample) {
    for (const auto& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{"call", "--help"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("Example"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("axiswarp call "), std::string::npos) << r.out;
    }
}

TEST_F(CliCall, ArgumentCountErrorIsOneLineWithStatusOne) {
    const RunResult r = run({"call", "1", "2", "3", "-o", "out.npy"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Ovela:axisWarp:invalidNumInputs: Four inputs are required.\n");
    EXPECT_TRUE(filesInWork().empty());
}

TEST_F(CliCall, ModuleErrorLeavesAnExistingOutputUntouched) {
    std::ofstream(work() / "out.npy") << "previous";
    for (const auto& args : {std::vector<std::string>{"call", "1", "2", "3", "4", "5", "-o", "out.npy"},
                             std::vector<std::string>{"call", "--module", AXISWARP_ECHO_MODULE, "-o", "out.npy"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(slurp(work() / "out.npy"), "previous");
        EXPECT_EQ(filesInWork(), std::vector<std::string>{"out.npy"});
    }
    EXPECT_EQ(run({"call", "--module", AXISWARP_ECHO_MODULE, "-o", "out.npy"}).err,
              "Test:echo:noInput: Echo needs an input.\n");
}

TEST_F(CliCall, BadCommandLinesAndInputFilesGiveStatusTwo) {
    std::ofstream(work() / "garbage.npy") << "not a numpy file at all";
    struct Case {
        std::vector<std::string> args;
        std::string expected;  // in stderr
    };
    const std::vector<Case> cases{
        {{"call", "garbage.npy", "1", "-o", "out.npy"}, "garbage.npy: not a NumPy .npy file"},
        {{"call", "missing.npy", "-o", "out.npy"}, "missing.npy"},
        {{"call", "1", "abc", "-o", "out.npy"}, "'abc' is neither a .npy file nor a real number"},
        {{"call", "1e999", "-o", "out.npy"}, "out of the range"},
        {{"call", "1", "2"}, "--output"},
        {{"call", "--repeat", "0", "1", "-o", "out.npy"}, "--repeat"},
        {{"call", "--module", "nowhere.zupa64", "1", "-o", "out.npy"}, "nowhere.zupa64"},
        {{"call", "1", "-o", "no/such/folder/out.npy"}, "no/such/folder/out.npy"},
        {{"frobnicate"}, "frobnicate"},
        {{}, "subcommand"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(filesInWork(), std::vector<std::string>{"garbage.npy"});
    }
}

TEST_F(CliCall, ScalarArgumentsBecomeOneByOneDoubles) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<std::string> args;
        double expected;
    };
    for (const Case& c : {Case{{"1"}, 1.0}, Case{{"1.5"}, 1.5}, Case{{"-1"}, -1.0}, Case{{"inf"}, inf},
                          Case{{"+2e3"}, 2000.0}, Case{{"0.1"}, 0.1}, Case{{"--", "-inf"}, -inf},
                          Case{{"nan"}, std::nan("")}}) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> args{"call", "--module", AXISWARP_ECHO_MODULE, "-o", "out.npy"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto value = axiswarp::tools::readNpy(work() / "out.npy");
        EXPECT_EQ(value->classID(), zuDoubleClass);
        EXPECT_EQ(zuhost::extents(*value), (std::vector<std::uint64_t>{1, 1}));
        const double got = realValues<double>(*value).at(0);
        if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(got)) << got;
        else EXPECT_EQ(got, c.expected);
    }
}

TEST_F(CliCall, NpyInputsPassThroughLosslessly) {
    // A complex int16 array written in Fortran order comes back byte for byte.
    zuhost::ArrayPtr array = zuhost::createArray(zuInt16Class, {2, 3, 2}, {zuCOMPLEX});
    for (int i = 0; i < 12; ++i) {
        static_cast<std::int16_t*>(array->realData)[i] = static_cast<std::int16_t>(i * 1000 - 6000);
        static_cast<std::int16_t*>(array->imagData)[i] = static_cast<std::int16_t>(-i);
    }
    axiswarp::tools::writeNpy(root() / "in.npy", *array);
    const RunResult r = run({"call", "--module", AXISWARP_ECHO_MODULE, (root() / "in.npy").string(), "-o", "out.npy"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(work() / "out.npy"), slurp(root() / "in.npy"));
}

// Needs the module's resampling: the example resize of 6 rows to 4, checked
// against the weighted sums of the example tables, rounded half up.
TEST_F(CliCall, ExampleResizeMatchesTheTables) {
    const auto image = axiswarp::tools::readNpy(example("ramp_uint8.npy"));
    const auto weights = axiswarp::tools::readNpy(example("weights.npy"));
    const auto indices = axiswarp::tools::readNpy(example("indices.npy"));
    const std::uint64_t rows = image->dims[0], cols = image->dims[1];
    const std::uint64_t taps = weights->dims[0], outRows = weights->dims[1];
    const auto pixels = realValues<std::uint8_t>(*image);
    const auto w = realValues<double>(*weights);
    const auto idx = realValues<double>(*indices);
    std::vector<std::uint8_t> expected;
    for (std::uint64_t c = 0; c < cols; ++c) {
        for (std::uint64_t j = 0; j < outRows; ++j) {
            double sum = 0.0;
            for (std::uint64_t t = 0; t < taps; ++t) {
                sum += w[j * taps + t] * pixels[c * rows + static_cast<std::uint64_t>(idx[j * taps + t]) - 1];
            }
            expected.push_back(static_cast<std::uint8_t>(sum + 0.5));
        }
    }

    for (const auto& extra : {std::vector<std::string>{}, std::vector<std::string>{"--repeat", "3"}}) {
        std::vector<std::string> args{"call", example("ramp_uint8.npy"), example("weights.npy"),
                                      example("indices.npy"), "1", "-o", "out.npy"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto out = axiswarp::tools::readNpy(work() / "out.npy");
        EXPECT_EQ(out->classID(), zuUint8Class);
        EXPECT_EQ(zuhost::extents(*out), (std::vector<std::uint64_t>{outRows, cols}));
        EXPECT_EQ(realValues<std::uint8_t>(*out), expected);
        if (!extra.empty()) {
            EXPECT_NE(r.err.find("over 3 runs: min "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(" median "), std::string::npos) << r.err;
        }
        EXPECT_EQ(filesInWork(), std::vector<std::string>{"out.npy"});
    }
}

}  // namespace

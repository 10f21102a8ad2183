// The golden suite through the built module at every instruction-set level
// this processor has, against the digests committed in golden_hashes.txt.
// A difference names each case that changed; scripts/regenerate-golden.sh
// rewrites the file when a change of results is intended.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "golden_cases.hpp"
#include "kernels/kernel_select.hpp"
#include "module_fixture.hpp"
#include "sha256.hpp"

namespace {

using axiswarp::SimdLevel;
namespace golden = axiswarp::golden;

constexpr std::string_view kCommitted =
#include "golden_hashes.inc"
    ;

void setSimdVariable(const char* value) {
#ifdef _WIN32
    ::_putenv_s("AXISWARP_SIMD", value);
#else
    ::setenv("AXISWARP_SIMD", value, 1);
#endif
}

// Every level name the module knows, each run once if this processor has it.
std::vector<std::pair<std::string, SimdLevel>> levelsToRun() {
    std::vector<std::pair<std::string, SimdLevel>> levels;
    std::set<SimdLevel> seen;
    for (const char* name : {"scalar", "sse2", "avx2"}) {
        const SimdLevel level = axiswarp::simdLevelFromName(name, axiswarp::supportedSimdLevel());
        if (seen.insert(level).second) levels.emplace_back(name, level);
    }
    return levels;
}

TEST(Sha256, KnownAnswers) {
    struct Case {
        std::string message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const Case& c : cases) {
        axiswarp::testing::Sha256 sha;
        sha.add(reinterpret_cast<const std::uint8_t*>(c.message.data()), c.message.size());
        EXPECT_EQ(sha.hex(), c.digest) << c.message.size() << " bytes";
    }
}

TEST(GoldenCases, NamesAreUniqueAndAllCommitted) {
    std::map<std::string, std::string> committed;
    for (const golden::GoldenLine& line : golden::parseGoldenFile(std::string(kCommitted))) {
        EXPECT_TRUE(committed.emplace(line.name, line.digest).second) << "listed twice: " << line.name;
    }
    std::set<std::string> names;
    for (std::size_t n = 0; n < golden::caseCount(); ++n) {
        const std::string name = golden::makeCase(n).name;
        EXPECT_TRUE(names.insert(name).second) << "two cases named " << name;
        EXPECT_TRUE(committed.count(name)) << "no committed digest for " << name;
    }
    for (const auto& [name, digest] : committed) {
        EXPECT_TRUE(names.count(name)) << "committed digest for a case that no longer exists: " << name;
    }
}

class GoldenSuite : public axiswarp::testing::ModuleTest {};

TEST_F(GoldenSuite, EveryLevelGivesTheCommittedDigests) {
    std::map<std::string, std::string> committed;
    for (const golden::GoldenLine& line : golden::parseGoldenFile(std::string(kCommitted))) {
        committed[line.name] = line.digest;
    }
    ASSERT_FALSE(committed.empty()) << "golden_hashes.txt holds no digests";
    const char* saved = std::getenv("AXISWARP_SIMD");
    const std::string previous = saved != nullptr ? saved : "";
    for (const auto& [levelName, level] : levelsToRun()) {
        std::printf("golden suite at level %s\n", levelName.c_str());
        setSimdVariable(levelName.c_str());
        ASSERT_EQ(axiswarp::activeSimdLevel(), level);
        std::size_t changed = 0;
        for (std::size_t n = 0; n < golden::caseCount(); ++n) {
            const golden::GoldenCase c = golden::makeCase(n);
            const zuhost::CallOutcome outcome =
                module().call({c.image.get(), c.weights.get(), c.indices.get(), c.dim.get()});
            const auto found = committed.find(c.name);
            if (found == committed.end()) continue;  // reported by the test above
            const std::string digest = golden::digestOf(outcome);
            if (digest != found->second && ++changed <= 20) {
                ADD_FAILURE() << "level " << levelName << ": " << c.name << " gives " << digest << ", committed "
                              << found->second
                              << (outcome.failed ? " (the call failed with " + outcome.identifier + ")" : "");
            }
        }
        EXPECT_EQ(changed, 0u) << "cases that differ at level " << levelName;
    }
    setSimdVariable(previous.c_str());
}

}  // namespace

// The golden suite through the built module, against the digests committed
// in golden_hashes.txt. A difference names each case that changed;
// scripts/regenerate-golden.sh rewrites the file when a change of results is
// intended.
//
// The module fixes its instruction-set level once per process, from
// AXISWARP_SIMD, so one run checks one level: CTest runs this program once
// per level of the target with that variable set (tests/golden/CMakeLists.txt),
// and a run whose level this processor lacks is skipped.
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

// The level AXISWARP_SIMD names, or null to run at the level the module
// chooses by itself. A name this build does not know is an error in the test
// registration, not a reason to test another level.
struct PinnedLevel {
    std::string name;
    bool known = false;
    SimdLevel level = SimdLevel::scalar;
};

PinnedLevel pinnedLevel() {
    PinnedLevel pinned;
    const char* value = std::getenv("AXISWARP_SIMD");
    if (value == nullptr || *value == '\0') return pinned;
    pinned.name = value;
    for (int n = 0; n < axiswarp::simdLevelCount; ++n) {
        const auto level = static_cast<SimdLevel>(n);
        if (pinned.name == axiswarp::simdLevelName(level)) {
            pinned.known = true;
            pinned.level = level;
        }
    }
    return pinned;
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

TEST_F(GoldenSuite, TheLevelGivesTheCommittedDigests) {
    const PinnedLevel pinned = pinnedLevel();
    if (!pinned.name.empty()) {
        ASSERT_TRUE(pinned.known) << "AXISWARP_SIMD=" << pinned.name << " names no level";
        if (!axiswarp::simdLevelIncludes(axiswarp::supportedSimdLevel(), pinned.level)) {
            GTEST_SKIP() << "this processor has no level " << pinned.name;
        }
        // The module reads the variable as this process's own kernels do.
        ASSERT_EQ(axiswarp::activeSimdLevel(), pinned.level);
    }
    const std::string levelName = axiswarp::simdLevelName(axiswarp::activeSimdLevel());
    std::printf("golden suite at level %s\n", levelName.c_str());
    std::map<std::string, std::string> committed;
    for (const golden::GoldenLine& line : golden::parseGoldenFile(std::string(kCommitted))) {
        committed[line.name] = line.digest;
    }
    ASSERT_FALSE(committed.empty()) << "golden_hashes.txt holds no digests";
    std::size_t changed = 0;
    for (std::size_t n = 0; n < golden::caseCount(); ++n) {
        const golden::GoldenCase c = golden::makeCase(n);
        const zuhost::CallOutcome outcome = module().call({c.image.get(), c.weights.get(), c.indices.get(), c.dim.get()});
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

}  // namespace

// The module file must show the host one entry and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> definedDynamicSymbols(const std::string& file) {
    const std::string command = "nm -D --defined-only --format=posix '" + file + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::string> lines;
    if (!pipe) return lines;
    char buffer[1024];
    while (fgets(buffer, sizeof buffer, pipe.get()) != nullptr) lines.emplace_back(buffer);
    return lines;
}

TEST(ModuleFile, ExportsOnlyZupFunction) {
    const std::vector<std::string> lines = definedDynamicSymbols(AXISWARP_MODULE_PATH);
    ASSERT_FALSE(lines.empty()) << "nm printed nothing for " << AXISWARP_MODULE_PATH;
    std::vector<std::string> exported;
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        std::string name, type;
        fields >> name >> type;
        // Linker-defined section markers are not code a host can call.
        if (type == "A" || name == "_init" || name == "_fini") continue;
        exported.push_back(name + " " + type);
    }
    ASSERT_EQ(exported.size(), 1u) << "exported: " << ::testing::PrintToString(exported);
    EXPECT_EQ(exported.front(), "zupFunction T");
}

}  // namespace

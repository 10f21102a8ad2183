#include "runtime/available_memory.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace axiswarp::tools {

namespace {

constexpr std::uint64_t kUnknown = std::numeric_limits<std::uint64_t>::max();

// MemAvailable, in bytes.
std::uint64_t meminfoAvailable() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:") return kib * 1024;
    }
    return kUnknown;
}

std::uint64_t readNumber(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    if (!(file >> text) || text == "max") return kUnknown;
    try {
        return std::stoull(text);
    } catch (...) {
        return kUnknown;
    }
}

// What the cgroup v2 group of this process may still take: memory.max less
// memory.current, the tightest along the path to the root.
std::uint64_t cgroupAvailable() {
    std::ifstream self("/proc/self/cgroup");
    std::string line;
    while (std::getline(self, line)) {
        if (line.rfind("0::", 0) != 0) continue;
        std::string path = "/sys/fs/cgroup" + line.substr(3);
        std::uint64_t least = kUnknown;
        while (true) {
            const std::uint64_t limit = readNumber(path + "/memory.max");
            const std::uint64_t used = readNumber(path + "/memory.current");
            if (limit != kUnknown && used != kUnknown) least = std::min(least, limit > used ? limit - used : 0);
            const std::size_t slash = path.find_last_of('/');
            if (path == "/sys/fs/cgroup" || slash == std::string::npos) break;
            path.resize(slash);
        }
        return least;
    }
    return kUnknown;
}

}  // namespace

std::uint64_t availableMemoryBytes() noexcept {
    try {
        return std::min(meminfoAvailable(), cgroupAvailable());
    } catch (...) {
        return kUnknown;
    }
}

}  // namespace axiswarp::tools

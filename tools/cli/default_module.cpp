#include "cli/commands.hpp"

#include <system_error>

namespace axiswarp::cli {

namespace {

std::filesystem::path executableFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

}  // namespace

std::filesystem::path defaultModulePath() {
    const std::filesystem::path built = AXISWARP_DEFAULT_MODULE;
    std::error_code ec;
    if (std::filesystem::is_regular_file(built, ec)) return built;
    // A build tree that was moved or copied elsewhere still finds its module.
    const std::filesystem::path folder = executableFolder();
    if (!folder.empty()) {
        for (const std::filesystem::path& candidate :
             {folder / AXISWARP_MODULE_FILE_NAME, folder / ".." / "private" / AXISWARP_MODULE_FILE_NAME}) {
            if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
        }
    }
    // Nothing found: name the built path, so the load error says where it looked.
    return built;
}

}  // namespace axiswarp::cli

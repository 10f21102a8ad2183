// What `axiswarp --version` prints.
#include "cli/commands.hpp"

#include "kernels/kernel_select.hpp"

#include <string>

namespace axiswarp::cli {

namespace {

std::string compilerText() {
#if defined(__clang__)
    return "clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) + "." +
           std::to_string(__clang_patchlevel__);
#elif defined(__GNUC__)
    return "g++ " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
           std::to_string(__GNUC_PATCHLEVEL__);
#else
    return "an unknown compiler";
#endif
}

}  // namespace

std::string versionText() {
    // The tool links the module's own kernel-selection code, so the level is
    // the one the module chooses on this processor, by the same test; a
    // module file built elsewhere (--module) may differ.
    const SimdLevel supported = supportedSimdLevel();
    const SimdLevel active = activeSimdLevel();
    std::string text = std::string("axiswarp ") + AXISWARP_VERSION + "\n" + "built with " +
                       compilerText() + "\n" + "kernels on this processor: " + simdLevelName(active);
    if (active != supported)
        text += std::string(" (pinned by AXISWARP_SIMD; the processor supports ") + simdLevelName(supported) + ")";
    return text;
}

}  // namespace axiswarp::cli

// How much memory a job may take before the machine starts to swap or the
// kernel ends the process.
#ifndef AXISWARP_TOOLS_AVAILABLE_MEMORY_HPP
#define AXISWARP_TOOLS_AVAILABLE_MEMORY_HPP

#include <cstdint>

namespace axiswarp::tools {

// The kernel's estimate of memory available without swapping (MemAvailable
// of /proc/meminfo), lowered to what the process's control group still
// allows when it has a limit. UINT64_MAX when neither can be read, so that
// nothing is refused on a system that does not say.
std::uint64_t availableMemoryBytes() noexcept;

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_AVAILABLE_MEMORY_HPP

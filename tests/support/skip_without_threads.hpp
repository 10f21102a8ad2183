#pragma once
// Tests whose programs start threads or fork (the test itself, or the tool it
// runs) skip themselves in a build whose tests run under an emulator that
// hangs in such programs: qemu-i386 7.2, taken for 32-bit x86 when the kernel
// cannot run 32-bit programs (cmake/toolchains/i686-linux-gnu.cmake).
// std::system and posix_spawn, which the other tests start the tool with,
// run there.
#include <gtest/gtest.h>

#if defined(AXISWARP_NO_THREADS_REASON)
#define AXISWARP_SKIP_WITHOUT_THREADS() GTEST_SKIP() << AXISWARP_NO_THREADS_REASON
#else
#define AXISWARP_SKIP_WITHOUT_THREADS() static_cast<void>(0)
#endif

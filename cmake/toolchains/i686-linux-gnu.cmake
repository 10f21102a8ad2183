# 32-bit x86 Linux with g++-i686-linux-gnu, tests under qemu-i386. The
# project's CMakeLists adds -msse2 -mfpmath=sse for every 32-bit x86 target.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AXISWARP_CROSS_TRIPLE i686-linux-gnu)
set(AXISWARP_MULTIARCH i386-linux-gnu)
# The emulator's most capable processor model, so that the SSE2 and AVX2
# kernel levels run too.
set(AXISWARP_QEMU qemu-i386;-cpu;max)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

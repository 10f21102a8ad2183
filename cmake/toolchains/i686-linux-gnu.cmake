# 32-bit x86 Linux with g++-i686-linux-gnu, tests under qemu-i386. The
# project's CMakeLists adds -msse2 -mfpmath=sse for every 32-bit x86 target.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AXISWARP_CROSS_TRIPLE i686-linux-gnu)
set(AXISWARP_MULTIARCH i386-linux-gnu)
set(AXISWARP_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# 64-bit Arm Linux with g++-aarch64-linux-gnu, tests under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(AXISWARP_CROSS_TRIPLE aarch64-linux-gnu)
set(AXISWARP_MULTIARCH aarch64-linux-gnu)
set(AXISWARP_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

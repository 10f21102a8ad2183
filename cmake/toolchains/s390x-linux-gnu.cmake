# Big-endian 64-bit IBM Z Linux with g++-s390x-linux-gnu, tests under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(AXISWARP_CROSS_TRIPLE s390x-linux-gnu)
set(AXISWARP_MULTIARCH s390x-linux-gnu)
set(AXISWARP_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

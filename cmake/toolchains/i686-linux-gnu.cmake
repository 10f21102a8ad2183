# 32-bit x86 Linux with g++-i686-linux-gnu. The project's CMakeLists adds
# -msse2 -mfpmath=sse for every 32-bit x86 target.
#
# Tests run on the processor itself, through the target's own dynamic loader
# from the cross sysroot, where the x86-64 kernel runs 32-bit programs.
# Kernels built without that support refuse them ("Exec format error"); there
# scripts/cross-check.sh passes AXISWARP_CROSS_RUN=qemu and they run under
# qemu-i386, which (7.2) hangs in programs that start a thread or fork: those
# tests are skipped there.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AXISWARP_CROSS_TRIPLE i686-linux-gnu)
set(AXISWARP_MULTIARCH i386-linux-gnu)
set(AXISWARP_QEMU qemu-i386)
set(AXISWARP_QEMU_NO_THREADS "qemu-i386 7.2 hangs in a program that starts a thread or forks, as this test or the tool it runs does")
set(AXISWARP_RUNNER /usr/${AXISWARP_CROSS_TRIPLE}/lib/ld-linux.so.2;--library-path;/usr/${AXISWARP_CROSS_TRIPLE}/lib)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
#
# The posix flavour of the compiler is used because the stand-in host's tests
# use std::thread, which the win32 flavour of this GCC release lacks. Every
# binary links the GCC runtime, the C++ library and winpthread statically, so
# a DLL or program needs nothing beyond the system DLLs and the project's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(AXISWARP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${AXISWARP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AXISWARP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${AXISWARP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${AXISWARP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

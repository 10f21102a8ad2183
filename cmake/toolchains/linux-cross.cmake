# Shared part of the Linux cross toolchains (aarch64, s390x, i686): Debian's
# cross compilers, their C library under /usr/TRIPLE, and the tool's own
# libraries (libpng, libjpeg, zlib, libtiff, libexif, lcms2) unpacked from Debian's packages for the
# target into AXISWARP_TARGET_LIBS by scripts/cross-check.sh. Tests run under
# qemu-user with the same library paths.
#
# The including file sets AXISWARP_CROSS_TRIPLE (the compilers' prefix),
# AXISWARP_MULTIARCH (Debian's folder name for the architecture's libraries),
# AXISWARP_QEMU and CMAKE_SYSTEM_PROCESSOR; a target that this machine may run
# natively also names AXISWARP_RUNNER, and AXISWARP_CROSS_RUN=qemu on the
# command line runs it under qemu-user all the same (scripts/cross-check.sh
# passes it when the kernel does not run the target's programs).
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${AXISWARP_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${AXISWARP_CROSS_TRIPLE}-g++)

# The target libraries' folder is passed on the command line once and must
# reach every try_compile that CMake runs with this file.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AXISWARP_TARGET_LIBS AXISWARP_CROSS_RUN)
set(AXISWARP_CROSS_SYSROOT /usr/${AXISWARP_CROSS_TRIPLE})

set(CMAKE_FIND_ROOT_PATH ${AXISWARP_CROSS_SYSROOT})
if(AXISWARP_TARGET_LIBS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${AXISWARP_TARGET_LIBS})
  set(axiswarp_libdir ${AXISWARP_TARGET_LIBS}/usr/lib/${AXISWARP_MULTIARCH})
  set(axiswarp_incdir ${AXISWARP_TARGET_LIBS}/usr/include)
  # Named outright: the cross compilers do not search Debian's multiarch
  # folders, so the find modules would not look there either.
  set(PNG_LIBRARY ${axiswarp_libdir}/libpng16.so CACHE FILEPATH "")
  set(PNG_PNG_INCLUDE_DIR ${axiswarp_incdir} CACHE PATH "")
  set(JPEG_LIBRARY ${axiswarp_libdir}/libjpeg.so CACHE FILEPATH "")
  set(JPEG_INCLUDE_DIR ${axiswarp_incdir} CACHE PATH "")
  set(ZLIB_LIBRARY ${axiswarp_libdir}/libz.so CACHE FILEPATH "")
  set(ZLIB_INCLUDE_DIR ${axiswarp_incdir} CACHE PATH "")
  set(TIFF_LIBRARY ${axiswarp_libdir}/libtiff.so CACHE FILEPATH "")
  set(TIFF_INCLUDE_DIR ${axiswarp_incdir} CACHE PATH "")
  set(LIBEXIF_LIBRARY ${axiswarp_libdir}/libexif.so CACHE FILEPATH "")
  set(LIBEXIF_INCLUDE_DIR ${axiswarp_incdir} CACHE PATH "")
  set(LCMS2_LIBRARY ${axiswarp_libdir}/liblcms2.so CACHE FILEPATH "")
  set(LCMS2_INCLUDE_DIR ${axiswarp_incdir} CACHE PATH "")
  # Multiarch headers (jconfig.h) sit in an architecture folder, and the
  # libraries' own dependencies (libpng's zlib) must be found at link time and
  # at run time, where the executables carry the folder as their RPATH.
  set(CMAKE_CXX_FLAGS_INIT "-isystem ${axiswarp_incdir}/${AXISWARP_MULTIARCH}")
  # (zlib's run-time file sits in lib/, the others in usr/lib/.)
  set(axiswarp_rpath "${axiswarp_libdir}:${AXISWARP_TARGET_LIBS}/lib/${AXISWARP_MULTIARCH}")
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT
        "-Wl,-rpath-link,${axiswarp_rpath} -Wl,-rpath,${axiswarp_rpath} -Wl,--disable-new-dtags")
  endforeach()
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-user loads the target's dynamic loader and C library from the cross
# sysroot; -L is tried before the host's own paths for every file it opens.
# A target whose programs this machine runs natively names its own runner.
if(AXISWARP_RUNNER AND NOT AXISWARP_CROSS_RUN STREQUAL "qemu")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AXISWARP_RUNNER})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AXISWARP_QEMU};-L;${AXISWARP_CROSS_SYSROOT})
  # Tests whose programs start threads or fork are skipped, with this
  # reason, under an emulator that hangs in them (tests/CMakeLists.txt).
  if(AXISWARP_QEMU_NO_THREADS)
    set(AXISWARP_TESTS_NO_THREADS "${AXISWARP_QEMU_NO_THREADS}")
  endif()
endif()

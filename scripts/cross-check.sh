#!/usr/bin/env bash
# Cross-builds the module, the stand-in host, the axiswarp tool and the whole
# test suite for another architecture with Debian's cross compilers, and runs
# every test under qemu-user: the golden hashes, the kernels against the
# reference, the gateway, the tool's file formats and its command line.
# i686 programs run on the processor itself when the kernel runs 32-bit
# programs, under qemu-i386 when it does not; when neither runs one, the i686
# step is skipped with a line that says why (exit status 0).
#
# Usage: scripts/cross-check.sh ARCH     ARCH is aarch64, s390x or i686
#   aarch64  64-bit Arm, little-endian
#   s390x    64-bit IBM Z, big-endian: the byte-order checks of the tool
#   i686     32-bit x86: double arithmetic in SSE2, never the x87 unit
# Environment: CMAKE_FLAGS (added to the configure line), JOBS,
#   AXISWARP_CROSS_RUN=qemu to run i686 tests under qemu-i386 even where the
#   kernel runs them (the way a kernel without 32-bit support takes),
#   AXISWARP_CROSS_BUILD_DIR (default build-ARCH), AXISWARP_CI_NOTE (a file
#   that receives one line on how the tests ran, for .ci/run's table).
#
# Installs what the machine lacks: the cross compiler, qemu-user, and the
# target's builds of libpng, libjpeg, libexif and zlib, fetched as Debian packages for
# that architecture and unpacked into build-ARCH/target-libs (not installed:
# Debian's multiarch rules would otherwise tie their versions to the host's
# own copies). GoogleTest is built for the target from Debian's sources.
set -euo pipefail
cd "$(dirname "$0")/.."

arch="${1:-}"
case "$arch" in
  aarch64) debarch=arm64; triple=aarch64-linux-gnu; multiarch=aarch64-linux-gnu ;;
  s390x) debarch=s390x; triple=s390x-linux-gnu; multiarch=s390x-linux-gnu ;;
  i686) debarch=i386; triple=i686-linux-gnu; multiarch=i386-linux-gnu ;;
  *) echo "usage: $0 aarch64|s390x|i686" >&2; exit 2 ;;
esac

root="$PWD/${AXISWARP_CROSS_BUILD_DIR:-build-$arch}"
toolchain="$PWD/cmake/toolchains/$triple.cmake"
jobs="${JOBS:-$(nproc)}"
started=$SECONDS

fail() { echo "cross-check $arch: $*" >&2; exit 1; }
note() { if [ -n "${AXISWARP_CI_NOTE:-}" ]; then echo "$*" >"$AXISWARP_CI_NOTE"; fi; }
step() { echo "== $arch: $* ($(date +%T), $((SECONDS - started)) s)"; }

scripts/ensure-deps.sh build test "cross-$arch"
# shellcheck source=scripts/apt-retry.sh
. scripts/apt-retry.sh

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# How the target's programs run here, tried on a small one first: i686 on the
# processor itself when the kernel runs 32-bit programs (an x86-64 kernel
# built without 32-bit support answers "Exec format error"), otherwise, as
# every other target, under qemu-user.
step "checking how programs built for $arch run here"
mkdir -p "$root/probe"
printf '#include <cstdio>\nint main() { std::puts("runs"); }\n' >"$root/probe/probe.cpp"
"$triple-g++" -O0 -o "$root/probe/probe" "$root/probe/probe.cpp" ||
  fail "$triple-g++ could not build a small program"
sysroot="/usr/$triple"
qemu="qemu-$([ "$arch" = i686 ] && echo i386 || echo "$arch")"
# Prints what the probe printed, or the reason it did not run.
probe() { timeout 60 "$@" "$root/probe/probe" 2>&1 | head -n 3 || true; }
runner=none native="" emulated=""
if [ "$arch" = i686 ] && [ "${AXISWARP_CROSS_RUN:-}" != qemu ]; then
  native=$(probe "$sysroot/lib/ld-linux.so.2" --library-path "$sysroot/lib")
  if [ "$native" = runs ]; then runner=native; fi
fi
if [ "$runner" = none ]; then
  emulated=$(probe "$qemu" -L "$sysroot")
  if [ "$emulated" = runs ]; then runner=qemu; fi
fi
refused=""
if [ -n "$native" ]; then refused="this kernel does not run 32-bit x86 programs (${native//$'\n'/ })"; fi
if [ "$arch" = i686 ] && [ "${AXISWARP_CROSS_RUN:-}" = qemu ]; then refused="AXISWARP_CROSS_RUN=qemu"; fi
case "$runner" in
  native) way="on this processor"; echo "$arch programs run $way, through the target's own loader" ;;
  qemu) way="under $qemu"; echo "$arch programs run $way${refused:+: $refused}" ;;
  none)
    why="no way to run $arch programs here:${refused:+ $refused, and} $qemu did not run one either (${emulated//$'\n'/ })"
    # qemu-user runs the 64-bit targets wherever Debian's qemu-user installs;
    # failing there is a fault to look into, not a machine without a feature.
    [ "$arch" = i686 ] || fail "$why"
    echo "cross-check $arch: skipped: $why" >&2
    note "skipped: $why"
    exit 0 ;;
esac
note "tests $way; not finished"

# The target's libraries for the tool, from Debian's packages for it.
libs="$root/target-libs"
libpkgs=(libpng16-16 libpng-dev zlib1g zlib1g-dev libjpeg62-turbo libjpeg62-turbo-dev
         libtiff6 libtiff-dev libdeflate0 libjbig0 liblzma5 libwebp7 libzstd1
         libexif12 libexif-dev liblcms2-2 liblcms2-dev)
# Debian builds LERC, and links libtiff with it, on little-endian targets only.
[ "$arch" = s390x ] || libpkgs+=(liblerc4)
# The marker names the packages unpacked, so that a changed list unpacks again.
if [ "$(cat "$libs/.unpacked" 2>/dev/null)" != "${libpkgs[*]}" ]; then
  step "fetching ${libpkgs[*]} for $debarch"
  if ! dpkg --print-foreign-architectures | grep -qx "$debarch"; then
    $SUDO dpkg --add-architecture "$debarch"
    apt_retry --arch "$debarch" update -qq
  fi
  debs="$root/debs"
  rm -rf "$debs" "$libs"
  mkdir -p "$debs" "$libs"
  # Lists older than the mirror answer 404: apt_retry refreshes them before
  # each further try.
  (cd "$debs" && apt_retry --arch "$debarch" download -qq "${libpkgs[@]/%/:$debarch}") ||
    fail "could not download the target's libraries"
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$libs"; done
  # Absolute links (libz.so -> /lib/...) must point into the unpacked tree.
  find "$libs" -type l -lname '/*' | while read -r link; do
    ln -sfn "$libs$(readlink "$link")" "$link"
  done
  # CLI11 is headers only, the same for every architecture: its package
  # configuration is copied beside the target's libraries (it finds its
  # headers relative to itself), so that the host's /usr/include never
  # enters a cross compilation.
  mkdir -p "$libs/usr/share/cmake"
  cp -r /usr/share/cmake/CLI11 "$libs/usr/share/cmake/"
  ln -sfn /usr/include/CLI "$libs/usr/include/CLI"
  echo "${libpkgs[*]}" >"$libs/.unpacked"
fi
[ -f "$libs/usr/lib/$multiarch/libpng16.so" ] || fail "no libpng16.so in $libs/usr/lib/$multiarch"

# GoogleTest from Debian's sources, built for the target.
gtest="$root/googletest"
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  step "cross-building GoogleTest"
  cmake -S /usr/src/googletest -B "$root/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build "$root/googletest-build" --target install -j "$jobs" >/dev/null
fi

flags=(${CMAKE_FLAGS:-})
if [ "${CI:-}" = true ]; then flags+=(-DAXISWARP_WERROR=ON); fi
if command -v ccache >/dev/null; then flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# The way tests run is part of the build tree's configuration (the emulator
# CTest starts them with, and the tests that emulator cannot run): a change
# configures again.
flags+=(-DAXISWARP_CROSS_RUN:STRING="$runner")
if [ ! -f "$root/build.ninja" ] ||
   ! grep -qx "AXISWARP_CROSS_RUN:STRING=$runner" "$root/CMakeCache.txt"; then
  step "configuring $root (tests run: $runner)"
  # Tests are listed when ctest runs them, under the emulator, not at build
  # time, so that building does not start every test program under qemu.
  cmake -S . -B "$root" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DAXISWARP_TARGET_LIBS="$libs" \
    -DGTest_DIR="$gtest/lib/cmake/GTest" \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
    "${flags[@]}" >/dev/null
fi
step "building"
cmake --build "$root" -j "$jobs"

# No fused multiply-add in the module: each product must be rounded before
# it is added. aarch64 and s390x compilers contract a * b + c by default; the
# project builds with -ffp-contract=off, and this proves it held.
module="$root/private/axisWarpKernel.zupa64"
[ -f "$module" ] || fail "$module was not built"
step "checking that every unit of the module is compiled with -ffp-contract=off"
compiles=$(ninja -C "$root" -t commands axisWarpKernel | grep -E -- ' -c [^ ]+\.cpp' || true)
[ -n "$compiles" ] || fail "ninja listed no compile command for the module"
# The last -ffp-contract on a command line is the one the compiler obeys.
unflagged=""
while IFS= read -r command; do
  last=$(grep -oE -- '-ffp-contract=[a-z]+' <<<"$command" | tail -n 1 || true)
  if [ "$last" != "-ffp-contract=off" ]; then
    unflagged+=" $(grep -oE -- '-c [^ ]+' <<<"$command" | cut -c4-)"
  fi
done <<<"$compiles"
[ -z "$unflagged" ] || fail "compiled without -ffp-contract=off:$unflagged"
echo "$(wc -l <<<"$compiles") units, each with -ffp-contract=off"
case "$arch" in
  aarch64) fused='^(fmla|fmls|fmadd|fmsub|fnmadd|fnmsub|bfmla[bt]?)$' ;;
  s390x) fused='^(madbr?|msdbr?|maebr?|msebr?|wfmadb|wfmsdb|wfnmadb|wfnmsdb|vfma|vfms|vfmadb|vfmsdb|vfnma|vfnms)$' ;;
  i686) fused='^v?f(n)?m(add|sub)[0-9]{3}' ;;
esac
step "checking $module for fused multiply-add instructions"
# Instruction lines are "ADDRESS:<tab>MNEMONIC OPERANDS" (a tab or spaces
# before the operands, by architecture).
mnemonics=$("$triple-objdump" -d --no-show-raw-insn "$module" |
  awk -F'\t' '$1 ~ /^ *[0-9a-f]+:$/ && NF >= 2 { split($2, m, /[ \t]+/); print m[1] }')
[ -n "$mnemonics" ] || fail "objdump showed no instructions in $module"
if found=$(grep -E "$fused" <<<"$mnemonics" | sort | uniq -c) && [ -n "$found" ]; then
  fail "fused multiply-add instructions in the module: $found"
fi
echo "no fused multiply-add among $(wc -l <<<"$mnemonics") instructions"

step "running the whole test suite $way"
ctest --test-dir "$root" --output-on-failure -j "$jobs" | tee "$root/ctest.log"
skipped=$(grep -c '(Skipped)$' "$root/ctest.log" || true)
note "tests $way, $skipped skipped"
if [ "$skipped" -gt 0 ]; then
  # GoogleTest writes "FILE:LINE: Skipped" and the reason on the next line.
  echo "reasons given by the skipped tests (with counts):"
  grep -A1 ': Skipped$' "$root/Testing/Temporary/LastTest.log" | grep -v -e ': Skipped$' -e '^--$' |
    sort | uniq -c || true
fi
step "passed: tests $way, $skipped skipped (listed above)"

#!/usr/bin/env bash
# Installs the Debian packages a build needs and this machine lacks.
# Usage: scripts/ensure-deps.sh [build|demo|test|bench|fuzz|clang|windows|cross-ARCH]...
set -euo pipefail

# WebP and HEIF/AVIF: Debian 12's libheif1 links its HEVC and AV1 decoders and
# encoders (libde265, x265, dav1d, aom) itself; later releases move them into
# plugin packages, only recommended, which are named below where apt knows them.
declare -a wanted=(cmake ninja-build g++ make pkg-config libcli11-dev libpng-dev libjpeg62-turbo-dev libtiff-dev libexif-dev liblcms2-dev
             libwebp-dev libheif-dev)
# The Python package is part of every build: pybind11 and Debian's interpreter.
python_build=(python3 python3-dev pybind11-dev python3-numpy)
# What its tests, example and benchmark import.
python_test=(python3-pytest python3-hypothesis python3-pil python3-dask python3-distributed python3-zarr python3-tifffile
             python3-xarray libtiff-tools)
# What the install test uses to build a wheel and install it into a fresh venv.
python_install=(python3-setuptools python3-wheel python3-build python3-pip python3-venv)
for group in "$@"; do
  case "$group" in
    build) wanted+=("${python_build[@]}") ;;
    # The demo builds no test, but configuring the tree finds GoogleTest, as
    # the same build/ folder serves `make test`.
    demo) wanted+=(python3 googletest libgtest-dev libgmock-dev) ;;
    test) wanted+=(googletest libgtest-dev libgmock-dev "${python_build[@]}" "${python_test[@]}" "${python_install[@]}") ;;
    # bench/whole_runs.py: vips makes the inputs and is a peer, as is
    # ImageMagick; python_bench.py times the tool with /usr/bin/time.
    bench) wanted+=(libbenchmark-dev "${python_build[@]}" "${python_test[@]}" python3-opencv python3-skimage python3-scipy
                    libvips-tools imagemagick time) ;;
    fuzz) wanted+=(clang-14 libclang-rt-14-dev) ;;
    clang) wanted+=(clang-14) ;;
    windows) wanted+=(g++-mingw-w64-x86-64 wine64) ;;
    # Cross builds (scripts/cross-check.sh): compiler and user-mode emulator.
    cross-aarch64) wanted+=(g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user) ;;
    cross-s390x) wanted+=(g++-s390x-linux-gnu binutils-s390x-linux-gnu qemu-user) ;;
    cross-i686) wanted+=(g++-i686-linux-gnu binutils-i686-linux-gnu qemu-user) ;;
    *) echo "ensure-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

for plugin in libheif-plugin-libde265 libheif-plugin-x265 libheif-plugin-dav1d libheif-plugin-aomenc; do
  if apt-cache show "$plugin" >/dev/null 2>&1; then wanted+=("$plugin"); fi
done

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}" >&2
# shellcheck source=scripts/apt-retry.sh
. "$(dirname "$0")/apt-retry.sh"
apt_retry update -qq
apt_retry install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

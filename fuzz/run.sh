#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a while from a scratch copy of
# its committed corpus (the tree stays clean). A crash fails the script; the
# crashing inputs are copied to fuzz/regressions/<target>/ (keep them: the
# replay test in `make test` runs them from then on) and printed in base64 so
# that a CI log alone is enough to recover them.
#
# Usage: fuzz/run.sh [CALL_SECONDS [READER_SECONDS]]   (defaults 60 and 20)
#   CALL_SECONDS for the module call, READER_SECONDS for each of the .npy,
#   PNG, JPEG and TIFF readers; 0 builds a target without running it.
# Environment: AXISWARP_FUZZ_BUILD_DIR (default build-fuzz), CMAKE_FLAGS,
#   AXISWARP_FUZZ_TARGETS (default "call npy png jpeg tiff"; the first one named
#   "call" gets CALL_SECONDS, every other READER_SECONDS).
set -euo pipefail
cd "$(dirname "$0")/.."

call_seconds=${1:-60}
reader_seconds=${2:-20}
read -r -a targets <<<"${AXISWARP_FUZZ_TARGETS:-call npy png jpeg tiff webp heif}"
build=${AXISWARP_FUZZ_BUILD_DIR:-build-fuzz}

scripts/ensure-deps.sh build fuzz

if [ ! -f "$build/build.ninja" ]; then
  # shellcheck disable=SC2086
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DAXISWARP_FUZZ=ON -DAXISWARP_SANITIZE=ON -DAXISWARP_BUILD_TESTS=OFF ${CMAKE_FLAGS:-}
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"

# Leaks inside system libraries (the codecs libheif drives) are passed over,
# as in `make test-asan`; leaks of this project's own code still fail.
export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

run_fuzzer() {
  local name=$1 seconds=$2
  local binary="$build/fuzz/${name}_fuzzer"
  local regressions="fuzz/regressions/$name"
  [ -x "$binary" ] || { echo "fuzz/run.sh: $binary was not built" >&2; failed=1; return; }
  [ "$seconds" -gt 0 ] || return 0
  local corpus="$scratch/corpus-$name" artifacts="$scratch/crashes-$name"
  mkdir -p "$corpus" "$artifacts" "$regressions"
  cp -R "fuzz/corpus/$name/." "$corpus/"

  echo "== fuzzing $name for ${seconds}s${AXISWARP_SIMD:+ at level $AXISWARP_SIMD}"
  # The first directory receives new inputs; the regressions are read only.
  # Seconds are also capped per input, and memory per process.
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
       -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$regressions"; then
    failed=1
  fi
  local found=0
  for crash in "$artifacts"/*; do
    [ -f "$crash" ] || continue
    found=1
    local kept="$regressions/$(basename "$crash")" known
    for known in "$regressions"/*; do
      if [ -f "$known" ] && cmp -s "$crash" "$known"; then kept=$known; break; fi
    done
    [ -f "$kept" ] || cp "$crash" "$kept"
    echo "fuzz/run.sh: $name crashed on an input, kept as $kept; base64:" >&2
    base64 -w 76 "$crash" >&2
  done
  [ "$found" -eq 0 ] || failed=1
  echo "== $name: $(find "$corpus" -type f | wc -l) corpus inputs after the run"
}

for name in "${targets[@]}"; do
  if [ "$name" = call ]; then
    # The module reads AXISWARP_SIMD once per process, so each level the
    # processor has gets its own run (the module caps a level it lacks),
    # sharing the call's seconds.
    for level in scalar sse2 avx2 avx512; do
      AXISWARP_SIMD=$level run_fuzzer "$name" "$(( (call_seconds + 3) / 4 ))"
    done
  else
    run_fuzzer "$name" "$reader_seconds"
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz/run.sh: a fuzz target failed" >&2
  exit 1
fi
echo "fuzz/run.sh: no crash"

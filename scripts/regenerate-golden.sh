#!/usr/bin/env bash
# Rewrites tests/golden/golden_hashes.txt from the module built in build/
# (its plain kernels: AXISWARP_SIMD=scalar), after a change of results that is
# intended, and says which cases changed, appeared or went away. The golden
# test then checks every other level, compiler and machine against it.
#
# Usage: scripts/regenerate-golden.sh [--check]
#   --check   report the differences only; leave the file as it is
set -euo pipefail
cd "$(dirname "$0")/.."

check_only=0
case "${1:-}" in
  "") ;;
  --check) check_only=1 ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

file=tests/golden/golden_hashes.txt
scripts/ensure-deps.sh build test
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target golden_print >/dev/null

new=$(mktemp)
trap 'rm -f "$new"' EXIT
{
  echo "# SHA-256 of the output of every golden case (tests/golden/golden_cases.cpp):"
  echo "# class, complexity, extents and elements in little-endian byte order, any"
  echo "# floating-point NaN as the positive quiet NaN; for a refused call, its error."
  echo "# Regenerate with scripts/regenerate-golden.sh, only for an intended change."
  AXISWARP_SIMD=scalar build/tests/golden/golden_print
} >"$new"

/usr/bin/python3 - "$file" "$new" <<'PY'
import sys

def read(path):
    entries = {}
    try:
        with open(path) as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    name, digest = line.split()
                    entries[name] = digest
    except FileNotFoundError:
        pass
    return entries

old, new = read(sys.argv[1]), read(sys.argv[2])
changed = [n for n in new if n in old and old[n] != new[n]]
added = [n for n in new if n not in old]
removed = [n for n in old if n not in new]
for title, names in (("changed", changed), ("new", added), ("removed", removed)):
    for name in names:
        print(f"{title}: {name}")
print(f"{len(new)} cases: {len(changed)} changed, {len(added)} new, {len(removed)} removed")
PY

if [ "$check_only" -eq 0 ]; then
  cp "$new" "$file"
  echo "wrote $file"
fi

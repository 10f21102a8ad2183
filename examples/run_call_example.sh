#!/usr/bin/env bash
# Resizes the example image from 6 to 4 rows with `axiswarp call` and shows
# what went in and what came out. Run from anywhere after building:
#   examples/run_call_example.sh [OUTPUT.npy]
set -euo pipefail
output=${1:-}
if [[ -n $output && $output != /* ]]; then output="$PWD/$output"; fi
cd "$(dirname "$0")/.."
tool=${AXISWARP:-build/axiswarp}
output=${output:-demo-out/call_example.npy}
mkdir -p "$(dirname "$output")"

for input in ramp_uint8 weights indices; do
    python3 examples/show_npy.py "examples/$input.npy"
done
echo
echo "\$ $tool call examples/ramp_uint8.npy examples/weights.npy examples/indices.npy 1 -o $output"
"$tool" call examples/ramp_uint8.npy examples/weights.npy examples/indices.npy 1 -o "$output"
echo
python3 examples/show_npy.py "$output"

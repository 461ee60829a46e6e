#!/usr/bin/env bash
# The full fault sweep on demand: every scenario of tests/sweep, failing
# every call (stride 1, or the stride given) of every injectable platform
# function, in the sanitizer build unless another preset is named. Prints
# each scenario's counts (functions, points, runs) and any failure.
#   scripts/sweep.sh [preset] [stride]
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-asan}
stride=${2:-1}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target sweep_tests
out=$(mktemp)
status=0
MARLUNE_SWEEP_STRIDE=$stride ctest --preset "$preset" -L sweep -j "$(nproc)" --output-on-failure -V >"$out" 2>&1 || status=$?
grep -E '\[sweep\]|Failure|: error|tests passed|tests failed' "$out" | sed 's/^[0-9]*: //' || true
rm -f "$out"
exit "$status"

#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 60; 600 for the
# long run) on its seed corpus in fuzz/corpus/, in a scratch directory.
# Builds the targets with the asan preset (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) when needed. Prints each target's executions,
# coverage and new inputs; a crash keeps its input in build/asan/fuzz-crashes/
# and makes the script fail.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(wav_reader_fuzz sound_index_fuzz play_str_fuzz number_reading_fuzz telephony_records_fuzz)

if [ ! -f build/asan/CMakeCache.txt ]; then cmake --preset asan >/dev/null; fi
cmake --build --preset asan -j "$(nproc)" --target "${targets[@]}"

crashes="$root/build/asan/fuzz-crashes"
mkdir -p "$crashes"
failed=0
for t in "${targets[@]}"; do
  work=$(mktemp -d /tmp/marlune-fuzz-XXXXXX)
  mkdir -p "$work/corpus"
  log="$work/fuzz.log"
  status=0
  (cd "$work" && MARLUNE_DLL_PATH="$root/build/asan/bin" TZ=UTC \
     "$root/build/asan/bin/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
     -print_final_stats=1 -artifact_prefix="$crashes/$t-" corpus "$root/fuzz/corpus/$t" >"$log" 2>&1) || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$( (grep -E '^#[0-9]+.*cov: ' "$log" || true) | tail -1 |
         sed -E 's/.*cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/\1 edges, \2 features, \3 inputs/')
  added=$(sed -n 's/^stat::new_units_added: *//p' "$log")
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  if [ "$status" -eq 0 ]; then
    echo "fuzz: $t: ${seconds}s, ${execs:-?} executions, coverage ${cov:-?}, ${added:-0} new, peak ${rss:-?} MB, no crash"
  else
    failed=1
    echo "fuzz: $t: FAILED (exit $status); the input is in $crashes; the end of its output:"
    tail -40 "$log"
  fi
  rm -rf "$work"
done
exit $failed

#!/usr/bin/env bash
# Builds the Linux host and runs the demonstration: the sample balance line
# (examples/balance.lua) serving four simulated callers. Each call's log,
# what the caller heard, the recording and a timeline picture land in
# ./out/call-N/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target marlune marlune_control espeak_tts voice_pack_data $(ls peers/virtual_modem/CMakeLists.txt >/dev/null 2>&1 && echo tapi32)
build/native/bin/marlune demo --out out

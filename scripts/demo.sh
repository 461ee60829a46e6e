#!/usr/bin/env bash
# Builds the Linux host and runs a short demonstration of the control. The
# log and any recordings land in ./out.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target marlune marlune_control espeak_tts $(ls peers/virtual_modem/CMakeLists.txt >/dev/null 2>&1 && echo tapi32)
mkdir -p out
cd out
../build/native/bin/marlune demo

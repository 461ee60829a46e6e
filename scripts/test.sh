#!/usr/bin/env bash
# Builds everything (Linux and the Windows cross build) and runs the whole
# test suite; ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

cmake --preset native
cmake --build --preset native -j "$jobs"

# The control's portable sources against the real Windows headers; the
# 64-bit MARLUNE.OCX and its Wine test programs.
cmake --preset mingw
cmake --build --preset mingw -j "$jobs"

# The shipped 32-bit MARLUNE.OCX and the programs that test it under Wine.
cmake --preset mingw32
cmake --build --preset mingw32 -j "$jobs"

# The whole suite once more, built with clang under AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer (stopping at the first
# report); the same build has the fuzz targets, each run briefly.
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" --output-on-failure
bash scripts/fuzz.sh "${MARLUNE_FUZZ_SECONDS:-30}"

ctest --preset native -j "$jobs"

# MARLUNE.OCX under Wine: registration, type library, containers, scripts;
# the 32-bit control, then the 64-bit one.
ctest --preset wine --output-on-failure
ctest --preset wine64 --output-on-failure

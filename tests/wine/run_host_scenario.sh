#!/usr/bin/env bash
# A host scenario on marlune.exe under Wine, beside the stand-in
# TAPI32.DLL, compared with the Linux host's answers.
# Usage: run_host_scenario.sh WINE_TEST_ROOT OCX TAPI32 MARLUNE_EXE SCENARIO EXPECTED
set -euo pipefail
WINE_TEST_ROOT=$1
WINE_EXTRA_OVERRIDES="tapi32=n"
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN"
bin="$WINEPREFIX/drive_c/marlune"
mkdir -p "$bin"
cp "$3" "$bin/TAPI32.DLL"
cp "$4" "$bin/marlune.exe"
name=$(basename "$5" .jsonl)
python3 "$(dirname "$0")/../host/scenarios/run_scenario.py" "$5" "$6" "$WINEPREFIX/drive_c/scenario_$name" -- \
    $WINE 'C:\marlune\marlune.exe' host

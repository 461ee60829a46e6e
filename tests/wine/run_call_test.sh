#!/usr/bin/env bash
# A test program run beside the stand-in TAPI32.DLL, in place of
# Wine's own. Usage: run_call_test.sh WINE_TEST_ROOT OCX TAPI32 HOST_EXE
set -euo pipefail
WINE_TEST_ROOT=$1
WINE_EXTRA_OVERRIDES="tapi32=n"
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN"
work="$WINEPREFIX/drive_c/calltest"
rm -rf "$work"
mkdir -p "$work"
cp "$3" "$work/TAPI32.DLL"
cp "$4" "$work/"
cd "$work"
$WINE "C:\\calltest\\$(basename "$4")"

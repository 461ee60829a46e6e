#!/usr/bin/env bash
# Registers the stand-in speech component in the test prefix for this test
# only. Usage: run_speech_test.sh WINE_TEST_ROOT OCX SPEECH_DLL TEST_EXE
set -uo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
dir="$WINEPREFIX/drive_c/speech"
mkdir -p "$dir"
cp "$3" "$dir/speech_standin.dll"
$WINE regsvr32 /s "$OCX_WIN" || exit 1
$WINE regsvr32 /s 'C:\speech\speech_standin.dll' || exit 1
$WINE "$4" 'C:\speech\speech_standin.dll'
status=$?
$WINE regsvr32 /u /s 'C:\speech\speech_standin.dll'
exit $status

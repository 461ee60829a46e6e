#!/usr/bin/env bash
# PlayWav under Wine: the tone the test program wrote lands, sample for
# sample, in the ALSA file tap of the prefix.
# Usage: run_playback_test.sh WINE_TEST_ROOT OCX TEST_EXE
set -uo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN" || exit 1
work="$WINEPREFIX/drive_c/playtest"
rm -rf "$work" "$WINE_TEST_ROOT/alsa_tap.raw"
mkdir -p "$work"
cp "$3" "$work/"
(cd "$work" && $WINE "$(basename "$3")") || exit 1
wineserver -w
# The WAV's data (after its 44-byte header) is what was played.
tail -c +45 "$work/提示音.wav" | cmp - "$WINE_TEST_ROOT/alsa_tap.raw" || { echo "the tap differs from the sound"; exit 1; }
echo "tap: $(stat -c %s "$WINE_TEST_ROOT/alsa_tap.raw") bytes, the sound's samples"

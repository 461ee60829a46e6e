#!/usr/bin/env bash
# The shared table's sound files played by the OCX under Wine: the files
# are made here as for the native test, then the test program plays them.
# Usage: run_corpus_test.sh WINE_TEST_ROOT OCX TEST_EXE CORPUS_DIR
# (CORPUS_DIR holds wav_corpus.txt and make_wav_corpus.sh)
set -uo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN" || exit 1
work="$WINEPREFIX/drive_c/corpustest"
rm -rf "$work" "$WINE_TEST_ROOT/alsa_tap.raw"
mkdir -p "$work"
cp "$4/wav_corpus.txt" "$3" "$work/"
bash "$4/make_wav_corpus.sh" "$4/wav_corpus.txt" "$work/corpus" || exit 1
(cd "$work" && $WINE "$(basename "$3")") || exit 1
wineserver -w
# What played went through winealsa into the file device.
[ -s "$WINE_TEST_ROOT/alsa_tap.raw" ] || { echo "nothing reached the ALSA tap"; exit 1; }

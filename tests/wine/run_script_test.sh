#!/usr/bin/env bash
# A VBScript under `wine cscript` drives the control by name; the
# destruction notice of the control it releases is answered by
# box_closer.exe. Usage: run_script_test.sh WINE_TEST_ROOT OCX CLOSER_EXE SCRIPT
set -uo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN" || exit 1
work="$WINEPREFIX/drive_c/scripttest"
mkdir -p "$work"
cp "$4" "$work/"
$WINE "$3" 1 60 | tr -d '\r' > "$WINE_TEST_ROOT/boxes.txt" &
closer=$!
(cd "$work" && $WINE cscript //nologo "C:\\scripttest\\$(basename "$4")")
status=$?
wait $closer
boxes=$?
cat "$WINE_TEST_ROOT/boxes.txt"
# The notice's caption, Big5 bytes of 謝謝您!!!!, as the control passed them.
grep -qx 'box: c1 c2 c1 c2 b1 7a 21 21 21 21' "$WINE_TEST_ROOT/boxes.txt" || { echo "no destruction notice"; boxes=1; }
[ $status -eq 0 ] && [ $boxes -eq 0 ]

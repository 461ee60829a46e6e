#!/usr/bin/env bash
# A VBScript under `wine cscript` drives the control by name; the
# destruction notice of the control it releases is answered by
# box_closer.exe. With a stand-in TAPI32.DLL, that one serves the line and
# EXPECTED names a file of lines the script must print.
# Usage: run_script_test.sh WINE_TEST_ROOT OCX CLOSER_EXE SCRIPT [TAPI32 EXPECTED]
set -uo pipefail
WINE_TEST_ROOT=$1
[ $# -ge 5 ] && WINE_EXTRA_OVERRIDES="tapi32=n"
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN" || exit 1
work="$WINEPREFIX/drive_c/scripttest"
rm -rf "$work"
mkdir -p "$work"
cp "$4" "$work/"
host='C:\windows\system32\cscript.exe'
if [ $# -ge 5 ]; then
    # The script host runs from the work folder, so that the library
    # search finds the stand-in there before the system folder's tapi32.
    cp "$5" "$work/TAPI32.DLL"
    cp "$WINEPREFIX/drive_c/windows/system32/cscript.exe" "$work/"
    host='C:\scripttest\cscript.exe'
fi
$WINE "$3" 1 60 | tr -d '\r' > "$WINE_TEST_ROOT/boxes.txt" &
closer=$!
(cd "$work" && $WINE "$host" //nologo "C:\\scripttest\\$(basename "$4")") | tr -d '\r' | tee "$WINE_TEST_ROOT/script_out.txt"
status=${PIPESTATUS[0]}
wait $closer
boxes=$?
cat "$WINE_TEST_ROOT/boxes.txt"
# The notice's caption, Big5 bytes of 謝謝您!!!!, as the control passed them.
grep -qx 'box: c1 c2 c1 c2 b1 7a 21 21 21 21' "$WINE_TEST_ROOT/boxes.txt" || { echo "no destruction notice"; boxes=1; }
if [ $# -ge 6 ]; then
    diff "$6" "$WINE_TEST_ROOT/script_out.txt" || { echo "output differs from $6"; status=1; }
fi
[ $status -eq 0 ] && [ $boxes -eq 0 ]

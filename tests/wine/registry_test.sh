#!/usr/bin/env bash
# Self-registration read back with `wine reg query`: every key and value of
# the control, the property page and the type library; registering twice
# equals once; unregistering leaves nothing; a class with a 16-bit server
# keeps its key. Usage: registry_test.sh WINE_TEST_ROOT OCX
set -uo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"

CLSID='{3DA2596D-6BFA-410C-BB59-46B0EB6DC5F9}'
PAGE='{26340F63-5161-4D0C-ACF4-95566A38FEC6}'
LIBID='{24194BEE-8C44-4A67-B1F5-65F9667AB73C}'
DISP='{3C860224-6BAC-47E0-92C6-60369C24FA29}'
EVENTS='{E4E27D0D-571F-4F23-8897-2907B1BBD669}'
PROGID='MARLUNE.MarluneCtrl.1'
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# value KEY [NAME]: the REG_SZ data of the default (or named) value; exit
# status 1 when the key or value is missing.
value() {
    local out
    if [ $# -ge 2 ]; then
        out=$($WINE reg query "HKCR\\$1" /v "$2" 2>/dev/null) || return 1
    else
        out=$($WINE reg query "HKCR\\$1" /ve 2>/dev/null) || return 1
    fi
    printf '%s\n' "$out" | tr -d '\r' | iconv -f GBK -t UTF-8 | sed -n 's/^ *[^ ].* REG_SZ    \{0,1\}//p' | head -1
}
expect() {  # expect KEY NAME|'' EXPECTED
    local got
    if [ -n "$2" ]; then got=$(value "$1" "$2"); else got=$(value "$1"); fi || { fail "missing: $1 $2"; return; }
    [ "$got" = "$3" ] || fail "$1 ${2:-(default)}: '$got', expected '$3'"
}
missing() {  # missing KEY [NAME]
    if value "$@" >/dev/null; then fail "present: $*"; fi
}
snapshot() {
    for k in "CLSID\\$CLSID" "CLSID\\$PAGE" "$PROGID" "TypeLib\\$LIBID" "Interface\\$DISP" "Interface\\$EVENTS"; do
        $WINE reg query "HKCR\\$k" /s 2>/dev/null | tr -d '\r'
    done
}

$WINE regsvr32 /u /s "$OCX_WIN" >/dev/null 2>&1
$WINE regsvr32 /s "$OCX_WIN" || fail "regsvr32 exit status $?"

short=$(value "CLSID\\$CLSID\\InprocServer32")
echo "InprocServer32: $short"
[[ "$short" =~ ^C:\\[A-Z0-9_~-]{1,8}\\MARLUNE\.OCX$ ]] || fail "not a short (8.3) path: '$short'"
[ "$short" != "$OCX_WIN" ] || fail "the long path was registered"
$WINE cmd /c "if exist $short echo found" 2>/dev/null | tr -d '\r' | grep -qx found || fail "'$short' does not lead to the module"

expect "$PROGID" '' 'Marlune Control'
expect "$PROGID\\CLSID" '' "$CLSID"
expect "CLSID\\$CLSID" '' 'Marlune Control'
expect "CLSID\\$CLSID\\ProgID" '' "$PROGID"
expect "CLSID\\$CLSID\\InprocServer32" ThreadingModel 'Apartment'
expect "CLSID\\$CLSID\\ToolboxBitmap32" '' "$short, 1"
expect "CLSID\\$CLSID\\MiscStatus" '' '0'
expect "CLSID\\$CLSID\\MiscStatus\\1" '' '131473'
expect "CLSID\\$CLSID\\Control" '' ''
expect "CLSID\\$CLSID\\TypeLib" '' "$LIBID"
expect "CLSID\\$CLSID\\Version" '' '1.0'
missing "CLSID\\$CLSID\\Insertable"

expect "CLSID\\$PAGE" '' 'Marlune Property Page'
expect "CLSID\\$PAGE\\InprocServer32" '' "$short"
missing "CLSID\\$PAGE\\InprocServer32" ThreadingModel
missing "CLSID\\$PAGE\\ProgID"
missing 'MARLUNE.MarlunePropPage.1'

expect "TypeLib\\$LIBID\\1.0" '' 'Marlune ActiveX Control module'
expect "TypeLib\\$LIBID\\1.0\\409\\$WINEARCH" '' "$OCX_WIN"
expect "Interface\\$DISP" '' '_DMarlune'
expect "Interface\\$EVENTS" '' '_DMarluneEvents'

# Registering twice leaves what registering once left.
once=$(snapshot)
$WINE regsvr32 /s "$OCX_WIN" || fail "second regsvr32 exit status $?"
[ "$(snapshot)" = "$once" ] || fail "registering twice differs from once"

# Unregistering removes every key.
$WINE regsvr32 /u /s "$OCX_WIN" || fail "regsvr32 /u exit status $?"
for k in "CLSID\\$CLSID" "CLSID\\$PAGE" "$PROGID" "TypeLib\\$LIBID" "Interface\\$DISP" "Interface\\$EVENTS"; do
    missing "$k"
done

# A class that also has a 16-bit server keeps its key: only InprocServer32
# and ToolboxBitmap32 go; the ProgID goes.
$WINE regsvr32 /s "$OCX_WIN" || fail "regsvr32 exit status $?"
$WINE reg add "HKCR\\CLSID\\$CLSID\\InprocServer" /ve /d 'MARLUNE.DLL' /f >/dev/null
$WINE regsvr32 /u /s "$OCX_WIN" || fail "regsvr32 /u exit status $?"
expect "CLSID\\$CLSID" '' 'Marlune Control'
expect "CLSID\\$CLSID\\InprocServer" '' 'MARLUNE.DLL'
expect "CLSID\\$CLSID\\MiscStatus\\1" '' '131473'
missing "CLSID\\$CLSID\\InprocServer32"
missing "CLSID\\$CLSID\\ToolboxBitmap32"
missing "$PROGID"
missing "CLSID\\$PAGE"
$WINE reg delete "HKCR\\CLSID\\$CLSID" /f >/dev/null

echo "registry_test: $failures failure(s)"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# marlune.exe lists only what it has: the host and help verbs, the stand-in's
# commands; each command of the simulated platform is refused by name.
# Usage: run_exe_verbs_test.sh WINE_TEST_ROOT OCX TAPI32 MARLUNE_EXE
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
cd "$WINEPREFIX/drive_c"
fail=0

help=$($WINE 'C:\marlune\marlune.exe' help | tr -d '\r')
for verb in host help; do
    grep -q "^marlune $verb" <<<"$help" || { echo "help lacks the verb $verb"; fail=1; }
done
for verb in run demo calls serve describe number say; do
    ! grep -q "^marlune $verb" <<<"$help" || { echo "help lists $verb, which marlune.exe does not have"; fail=1; }
done

commands=(wave_fault file_fault comm_fault wave_device wave_formats sound_card_input hide_library hide_export)
grep -q "not on Windows.*hide_export" <<<"$help" || { echo "help does not name what is not on Windows"; fail=1; }
requests=""
for i in "${!commands[@]}"; do requests+="{\"id\":$((i + 1)),\"cmd\":\"${commands[$i]}\"}"$'\n'; done
answers=$(printf '%s' "$requests" | $WINE 'C:\marlune\marlune.exe' host | tr -d '\r')
for i in "${!commands[@]}"; do
    want="\"id\":$((i + 1))"
    line=$(grep "$want}" <<<"$answers" || grep "$want," <<<"$answers" || true)
    grep -q "\"kind\":\"request\"" <<<"$line" && grep -q "${commands[$i]}: not on Windows" <<<"$line" ||
        { echo "${commands[$i]}: not refused as not on Windows: $line"; fail=1; }
done
[ $fail -eq 0 ] && echo "marlune.exe verbs: ok"
exit $fail

#!/usr/bin/env bash
# The release folder's balance samples against the stand-in TAPI32.DLL,
# whose scripted caller (MARLUNE_VMODEM_CALLER) makes one call: the C++
# container sample answers it and tells the balance from a small voice
# pack; the VBScript and JScript samples run under `wine cscript`, which
# cannot wait for events (WScript.Sleep is not implemented), so they must
# say so and stop, or, on a script host that can, serve the call too.
# Usage: run_balance_samples.sh WINE_TEST_ROOT OCX TAPI32 CLOSER HOST_EXE VBS JS
set -uo pipefail
WINE_TEST_ROOT=$1
WINE_EXTRA_OVERRIDES="tapi32=n"
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN" || exit 1
work="$WINEPREFIX/drive_c/balance"
rm -rf "$work"
mkdir -p "$work"
cp "$3" "$work/TAPI32.DLL"
cp "$5" "$6" "$7" "$work/"
cp "$WINEPREFIX/drive_c/windows/system32/cscript.exe" "$work/"
# The voice pack: every character of the balance text, each a short tone.
(cd "$work" && python3 - <<'PY'
import os, struct, wave
os.makedirs("wav", exist_ok=True)
index = b""
for i, ch in enumerate("您的余额是十二点五零元一"):
    name = "s%d" % i
    index += ch.encode("gbk") + b"\0 " + name.encode() + b"\0"
    with wave.open("wav/%s.wav" % name, "wb") as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
        w.writeframes(b"".join(struct.pack("<h", (n % 16) * 800 - 6000) for n in range(800)))
open("hanzi.dat", "wb").write(index)
PY
)
export MARLUNE_VMODEM_CALLER=13800138000
status=0
expected="Line: Marlune Voice Modem
Waiting for calls...
Ring 1
Caller: 13800138000
Ring 2
Connected
Balance told
Line free"

$WINE "$4" 1 60 | tr -d '\r' > "$WINE_TEST_ROOT/boxes.txt" &
closer=$!
host=$(basename "$5")
(cd "$work" && timeout 60 $WINE "C:\\balance\\$host" 1) | tr -d '\r' | tee "$WINE_TEST_ROOT/balance_host.txt"
wait $closer || { echo "no destruction notice from the C++ sample"; status=1; }
diff <(printf '%s\nServed 1 call(s)\n' "$expected") "$WINE_TEST_ROOT/balance_host.txt" || { echo "C++ sample: output differs"; status=1; }
log=$(cat "$work"/*modem.txt 2>/dev/null | iconv -f gbk -t utf-8)
for text in "传入数据:您的余额是12.5元" "接收呼叫 ok" "放音文件:wav\\s0.wav"; do
    grep -qF "$text" <<<"$log" || { echo "log lacks: $text"; status=1; }
done

for script in "$6" "$7"; do
    name=$(basename "$script")
    (cd "$work" && timeout 60 $WINE 'C:\balance\cscript.exe' //nologo "C:\\balance\\$name" 1) | tr -d '\r' \
        > "$WINE_TEST_ROOT/$name.txt"
    rc=${PIPESTATUS[0]}
    cat "$WINE_TEST_ROOT/$name.txt"
    if grep -q "^This script host cannot wait for events" "$WINE_TEST_ROOT/$name.txt"; then
        [ "$rc" -eq 2 ] || { echo "$name: exit code $rc"; status=1; }
    else
        grep -qx "Balance told" "$WINE_TEST_ROOT/$name.txt" || { echo "$name: no call served"; status=1; }
    fi
done
exit $status

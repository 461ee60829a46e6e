#!/usr/bin/env bash
# Creates the 32-bit Wine prefix of the tests: windows without a display
# (graphics driver "null"), code page 936, and ALSA file devices so that
# what is played lands in a file. Usage: make_prefix.sh WINE_TEST_ROOT
set -euo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WINEPREFIX"
mkdir -p "$WINE_TEST_ROOT"
# ALSA's whole configuration (wine_env.sh points ALSA_CONFIG_PATH at it):
# the default device writes what is played to alsa_tap.raw (in the format
# the player opened) and reads what is captured from alsa_source.raw, over
# ALSA's built-in null device; no sound card is named.
: > "$WINE_TEST_ROOT/alsa_source.raw"
cat > "$ALSA_CONFIG_PATH" <<ALSA
pcm.!default {
    type asym
    playback.pcm {
        type file
        slave.pcm { type null }
        file "$WINE_TEST_ROOT/alsa_tap.raw"
        format "raw"
    }
    capture.pcm {
        type file
        slave.pcm { type null }
        file "/dev/null"
        infile "$WINE_TEST_ROOT/alsa_source.raw"
        format "raw"
    }
}
pcm.null { type null }
ALSA
$WINE wineboot --init >/dev/null 2>&1 || true
wineserver -w
$WINE reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
$WINE reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null
wineserver -w
# The system ANSI code page as the tests see it.
acp=$($WINE reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP | tr -d '\r' | awk '/ACP/{print $3}')
echo "prefix ready: $WINEPREFIX (ACP $acp)"
[ "$acp" = "936" ]

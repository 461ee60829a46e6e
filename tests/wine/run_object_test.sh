#!/usr/bin/env bash
# The OCX's objects, first unregistered (no type information), then
# registered. Usage: run_object_test.sh WINE_TEST_ROOT OCX TEST_EXE
set -euo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /u /s "$OCX_WIN" || true
$WINE "$3" "$OCX_WIN" unregistered
$WINE regsvr32 /s "$OCX_WIN"
$WINE "$3" "$OCX_WIN" registered

#!/usr/bin/env bash
# Usage: run_typelib_test.sh WINE_TEST_ROOT OCX TEST_EXE
set -euo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN"
$WINE "$3" "$OCX_WIN"

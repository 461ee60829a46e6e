#!/usr/bin/env bash
# Registers the OCX in the test prefix, then runs a test program in the
# folder given. Usage: run_registered.sh WINE_TEST_ROOT OCX WORKDIR EXE [ARGS...]
set -euo pipefail
WINE_TEST_ROOT=$1
source "$(dirname "$0")/wine_env.sh"
install_ocx "$2"
$WINE regsvr32 /s "$OCX_WIN"
mkdir -p "$3"
cd "$3"
shift 3
$WINE "$@"

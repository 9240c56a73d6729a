#!/usr/bin/env bash
# The ctest test "limbo.server_cases": turns x509-limbo's cases into files,
# then runs the Windows test over them; exits 77 (skipped) without the suite.
# Usage: limbo.sh LIMBO_DIR OUT_DIR EMULATOR TEST_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
python3 "$here/limbo_cases.py" "$1" "$2"
status=$?
[ $status -eq 0 ] || exit $status
exec "$3" "$4"

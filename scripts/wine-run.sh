#!/bin/bash
# Runs one Windows program under the project's Wine prefix (CTest's emulator).
# The program's output goes through a file: Wine's own background processes
# (wineserver, services, winedevice) inherit the descriptors of the program
# that started them and would keep CTest's output pipe open for good.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
kestrun_wine_ready
output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$@" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
exit $status

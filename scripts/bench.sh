#!/bin/bash
# Sets up what is missing, builds, and prints the benchmark table: kestrun's
# happy path against a floor program, its time as the installation grows,
# its CPU time while it waits out a held DLL, and the programs' sizes.
# scripts/bench.sh --quick skips the minute of waiting and the 50,000 files
# and runs fewer rounds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-env.sh"
kestrun_wine_ready
bin="$root/build/bin"
output=$(mktemp)
wine "$bin/kestrun_bench.exe" "$@" >"$output" 2>&1 </dev/null || true
tr -d '\r' <"$output"
rm -f "$output"
printf '%-44s %10s   %s\n' "size (stripped)" "bytes" "imported DLLs"
for program in kestrun kestrun-s2 kestrun-offline kestrun-normal; do
  imports=$(x86_64-w64-mingw32-objdump -p "$bin/$program.exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  printf '%-44s %10s   %s\n' "$program.exe" "$(stat -c %s "$bin/$program.exe")" "$imports"
done
wineserver -k 2>/dev/null || true

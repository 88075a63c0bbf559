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
if [ "${1:-}" != "--quick" ]; then
  # The CPU time of kestrun.exe while it retries a DLL that another program
  # holds open for longer than the minute. "wine kestrun.exe" runs the
  # program in this very process, so the shell's own accounting of it is
  # the program's CPU time.
  wait_root=$(mktemp -d)
  mkdir -p "$wait_root/app" "$wait_root/JVM/group1"
  cp "$bin/kestrun.exe" "$wait_root/app/"
  cp "$bin/updater_stub.exe" "$wait_root/app/Updater_Client.exe"
  echo jar >"$wait_root/app/Updater_Client.jar"
  echo sh >"$wait_root/app/Updater_Client.sh"
  echo old >"$wait_root/app/native.dll"
  echo new >"$wait_root/app/native.new.dll"
  marker="$wait_root/held"
  (cd "$wait_root/app" && wine "$bin/file_holder.exe" native.dll 75000 "$(winepath -w "$marker")" \
    </dev/null >/dev/null 2>&1 &)
  for _ in $(seq 100); do [ -f "$marker" ] && break; sleep 0.1; done
  TIMEFORMAT='%R %U %S'
  times=$( { time (cd "$wait_root/app" && wine kestrun.exe </dev/null >/dev/null 2>&1; echo "exit $?" >"$wait_root/exit"); } 2>&1 )
  read -r wall user sys <<<"$times"
  printf '%-44s %10s %10s %8s\n' "waiting" "wall s" "cpu s" "exit"
  printf '%-44s %10s %10s %8s\n\n' "DLL held open for the whole minute" "$wall" \
    "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$(cut -d' ' -f2 "$wait_root/exit")"
  rm -rf "$wait_root"
fi
printf '%-44s %10s   %s\n' "size (stripped)" "bytes" "imported DLLs"
for program in kestrun kestrun-s2 kestrun-offline kestrun-normal; do
  imports=$(x86_64-w64-mingw32-objdump -p "$bin/$program.exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  printf '%-44s %10s   %s\n' "$program.exe" "$(stat -c %s "$bin/$program.exe")" "$imports"
done
wineserver -k 2>/dev/null || true

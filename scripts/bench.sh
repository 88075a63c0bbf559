#!/bin/bash
# Sets up what is missing, builds, and prints the benchmark table: kestrun's
# happy path against a floor program, its time as the installation grows
# and as Path grows, its CPU time while it waits out a held DLL, its
# file-system queries per Path entry, and the programs' sizes.
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
# A healthy installation below $1: app/ with the starter and its updater
# files, and an empty JVM group beside it.
make_installation() {
  mkdir -p "$1/app" "$1/JVM/group1"
  cp "$bin/kestrun.exe" "$1/app/"
  cp "$bin/updater_stub.exe" "$1/app/Updater_Client.exe"
  echo jar >"$1/app/Updater_Client.jar"
  echo sh >"$1/app/Updater_Client.sh"
}
if [ "${1:-}" != "--quick" ]; then
  # The CPU time of kestrun.exe while it retries a DLL that another program
  # holds open for longer than the minute. "wine kestrun.exe" runs the
  # program in this very process, so the shell's own accounting of it is
  # the program's CPU time.
  wait_root=$(mktemp -d)
  make_installation "$wait_root"
  echo old >"$wait_root/app/native.dll"
  echo new >"$wait_root/app/native.new.dll"
  marker="$wait_root/held"
  (cd "$wait_root/app" && wine "$bin/file_holder.exe" native.dll 75000 "file:$(winepath -w "$marker")" \
    </dev/null >/dev/null 2>&1 &)
  for _ in $(seq 100); do [ -f "$marker" ] && break; sleep 0.1; done
  [ -f "$marker" ] || { echo "bench: file_holder.exe did not hold native.dll" >&2; exit 1; }
  TIMEFORMAT='%R %U %S'
  times=$( { time (cd "$wait_root/app" && wine kestrun.exe </dev/null >/dev/null 2>&1; echo "exit $?" >"$wait_root/exit"); } 2>&1 )
  read -r wall user sys <<<"$times"
  printf '%-44s %10s %10s %8s\n' "waiting" "wall s" "cpu s" "exit"
  printf '%-44s %10s %10s %8s\n\n' "DLL held open for the whole minute" "$wall" \
    "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$(cut -d' ' -f2 "$wait_root/exit")"
  rm -rf "$wait_root"
fi
# The file-system queries of java.exe candidates in one healthy run with a
# Path of 25 entries, none holding java.exe, counted in Wine's file trace
# (GetFileAttributesExW for an entry's own status, GetFileAttributesW for
# whether it exists when links are followed).
path_root=$(mktemp -d)
make_installation "$path_root"
path_value='C:\windows\system32;C:\windows'
for i in $(seq 2 24); do
  mkdir -p "$path_root/tools$i/bin"
  path_value="$path_value;$(winepath -w "$path_root/tools$i/bin")"
done
(cd "$path_root/app" && WINEDEBUG=+file wine cmd /c "set Path=$path_value&& kestrun.exe" \
  </dev/null >/dev/null 2>"$path_root/trace") || true
queries=$(grep -cE 'trace:file:GetFileAttributes(Ex)?W .*java\.exe' "$path_root/trace" || true)
printf '%-44s %10s %10s\n' "path queries" "queries" "per entry"
printf '%-44s %10s %10s\n\n' "java.exe lookups, Path of 25 entries" "$queries" \
  "$(awk -v q="$queries" 'BEGIN { printf "%.2f", q / 25 }')"
rm -rf "$path_root"
printf '%-44s %10s   %s\n' "size (stripped)" "bytes" "imported DLLs"
for program in kestrun kestrun-s2 kestrun-offline kestrun-normal; do
  imports=$(x86_64-w64-mingw32-objdump -p "$bin/$program.exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  printf '%-44s %10s   %s\n' "$program.exe" "$(stat -c %s "$bin/$program.exe")" "$imports"
done
wineserver -k 2>/dev/null || true

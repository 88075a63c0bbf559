#!/bin/bash
# Sets up what is missing, builds, and runs the starters under Wine on a
# sample installation made fresh in sample/, then shows what they did.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-env.sh"
kestrun_wine_ready
bin="$root/build/bin"
sample="$root/sample"

rm -rf "$sample"
mkdir -p "$sample/installation"
cp "$bin/kestrun-s2.exe" "$sample/installation/"
cp "$bin/updater_stub.exe" "$sample/installation/Updater.exe"

echo "== kestrun-s2.exe started in sample/installation"
(cd "$sample/installation" && wine kestrun-s2.exe some arguments </dev/null >/dev/null 2>&1) \
  && echo "exit code: 0" || echo "exit code: $?"
for _ in $(seq 50); do [ -f "$sample/installation/Updater.exe.record.txt" ] && break; sleep 0.1; done
echo
echo "== log/starter-s2.log"
cat "$sample/installation/log/starter-s2.log" | tr -d '\r'
echo
echo "== what the stand-in Updater.exe received"
tr -d '\r' <"$sample/installation/Updater.exe.record.txt"
wineserver -k 2>/dev/null || true

#!/bin/bash
# Sets up what is missing, builds, and runs every test under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
. "$root/scripts/wine-env.sh"
kestrun_wine_ready
cd "$root"
status=0
ctest --preset release || status=$?
wineserver -k 2>/dev/null || true
exit $status

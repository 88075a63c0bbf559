#!/bin/bash
# Configures (once) and builds every program and test into build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
[ -f build/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release

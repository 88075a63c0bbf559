#!/bin/bash
# Builds the four programs a second time, from a copy of the source in
# another folder, at another time and in another time zone, and checks that
# each comes out byte for byte like the one in the first build.
# Usage: check_reproducible.sh <cmake> <source folder> <bin folder of the first build>
set -euo pipefail
cmake=$1 source=$2 first=$3
programs=(kestrun kestrun-s2 kestrun-offline kestrun-normal)
second=$(mktemp -d /tmp/kestrun-reproducible.XXXXXX)
trap 'rm -rf "$second"' EXIT
tar -C "$source" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./dist \
  --exclude=./sample --exclude=./Testing -cf - . | tar -C "$second" -xf -
# Programs only: the tests are not part of what ships.
cd "$second"
export TZ=Pacific/Kiritimati
"$cmake" --preset release -DKESTRUN_BUILD_TESTS=OFF >/dev/null
"$cmake" --build --preset release --target "${programs[@]}" >/dev/null
failed=0
for program in "${programs[@]}"; do
  if ! cmp "$first/$program.exe" "build/bin/$program.exe"; then
    echo "FAIL $program.exe differs between $first and $second/build/bin:"
    cmp -l "$first/$program.exe" "build/bin/$program.exe" | head -5 || true
    failed=1
  fi
done
echo "kestrun.exe SHA-256, first build:  $(sha256sum <"$first/kestrun.exe" | cut -d' ' -f1)"
echo "kestrun.exe SHA-256, second build: $(sha256sum <build/bin/kestrun.exe | cut -d' ' -f1)"
if [ $failed -ne 0 ]; then echo "the builds differ"; exit 1; fi
echo "all ${#programs[@]} programs are byte-identical"

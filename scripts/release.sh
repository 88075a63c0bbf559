#!/bin/bash
# Builds a release of the committed state (HEAD) from a clean copy, signs the
# programs when a certificate is given (see scripts/sign.sh:
# KESTRUN_SIGN_PFX, KESTRUN_SIGN_PASSWORD, KESTRUN_SIGN_TIMESTAMP_URL), and
# writes dist/kestrun-<version>-windows-x64.zip holding the four programs,
# README.md and SHA256SUMS. The version is project(VERSION) in CMakeLists.txt.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
programs=(kestrun.exe kestrun-s2.exe kestrun-offline.exe kestrun-normal.exe)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

commit=$(git -C "$root" rev-parse HEAD)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  echo "Note: the working tree has uncommitted changes; the release is built from HEAD without them."
fi
echo "Building $commit (programs only) in a clean copy..."
mkdir "$work/source"
git -C "$root" archive --format=tar HEAD | tar -x -C "$work/source"
(cd "$work/source" && cmake --preset release -DKESTRUN_BUILD_TESTS=OFF >/dev/null &&
  cmake --build --preset release >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/source/build/CMakeCache.txt")
[ -n "$version" ] || { echo "release.sh: no project version in the build" >&2; exit 1; }

name="kestrun-$version-windows-x64"
stage="$work/$name"
mkdir "$stage"
for program in "${programs[@]}"; do cp "$work/source/build/bin/$program" "$stage/"; done
cp "$work/source/README.md" "$stage/"
if [ -n "${KESTRUN_SIGN_PFX:-}" ]; then
  (cd "$stage" && "$root/scripts/sign.sh" "${programs[@]}")
  signed="Authenticode SHA-256 signed"
else
  echo "*** NOT SIGNED: KESTRUN_SIGN_PFX is not set, so the programs stay unsigned. ***"
  signed="UNSIGNED"
fi
(cd "$stage" && sha256sum "${programs[@]}" README.md >SHA256SUMS)

mkdir -p "$root/dist"
archive="$root/dist/$name.zip"
rm -f "$archive"
# Entries carry the commit's time, not the time of this run.
mtime=$(TZ=UTC git -C "$root" log -1 --format=%cd --date='format-local:%a, %d %b %Y %H:%M:%S GMT' HEAD)
(cd "$work" && cmake -E tar cf "$archive" --format=zip --mtime="$mtime" \
  "${programs[@]/#/$name/}" "$name/README.md" "$name/SHA256SUMS")
echo
echo "$name ($signed), SHA256SUMS:"
cat "$stage/SHA256SUMS"
echo
echo "Wrote dist/$name.zip ($(stat -c %s "$archive") bytes), SHA-256 $(sha256sum <"$archive" | cut -d' ' -f1)"

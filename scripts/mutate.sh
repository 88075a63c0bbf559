#!/bin/bash
# Mutation check for developers (CI does not run it): makes each small fault
# listed in scripts/mutations.txt on its own, rebuilds, runs the tests without
# the minute-long one and tells whether they caught it.
#
#   scripts/mutate.sh            every fault
#   scripts/mutate.sh PATTERN    the faults whose label matches the grep pattern
#
# A line of mutations.txt holds four tab-separated fields: file, exact text,
# replacement, label. In the texts "\n" stands for a line break and "\\" for a
# backslash. The text must occur exactly once in the file, or the fault is
# reported as not applied. Empty lines and lines starting with # are skipped.
# Each changed file is put back from a copy (also on an error or Ctrl-C), and
# the build is brought back in line with the sources at the end.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
list=scripts/mutations.txt
pattern="${1:-}"
logs=build/mutate
backup="$(mktemp)"
mutated=""

restore() {
  # A plain copy, not cp -p: the file must look newer than the objects built
  # from the fault, so the next build compiles it again.
  if [ -n "$mutated" ]; then
    cp "$backup" "$mutated"
    mutated=""
  fi
}
finish() {
  restore
  rm -f "$backup"
}
trap finish EXIT
trap 'echo "interrupted" >&2; exit 130' INT TERM

# Replaces the one occurrence of $2 in file $1 by $3; fails when the text is
# not there exactly once.
apply_fault() {
  python3 - "$1" "$2" "$3" <<'PY'
import re, sys
def unescape(text):
    return re.sub(r"\\(\\|n)", lambda m: "\n" if m.group(1) == "n" else "\\", text)
path, find, replace = sys.argv[1], unescape(sys.argv[2]), unescape(sys.argv[3])
source = open(path, encoding="utf-8", newline="").read()
count = source.count(find)
if count != 1:
    sys.exit(f"{path}: the text occurs {count} times: {find!r}")
open(path, "w", encoding="utf-8", newline="").write(source.replace(find, replace))
PY
}

build() { cmake --build --preset release >"$1" 2>&1; }
run_tests() { ctest --preset release -E minute --timeout 180 --stop-on-failure >"$1" 2>&1; }

. scripts/wine-env.sh
kestrun_wine_ready
mkdir -p "$logs"
[ -f build/CMakeCache.txt ] || cmake --preset release >/dev/null
if ! build "$logs/baseline.log" || ! run_tests "$logs/baseline.log"; then
  echo "The unchanged sources do not build or pass their tests; see $logs/baseline.log" >&2
  exit 1
fi

results=()
killed=0
applied=0
number=0
while IFS= read -r line || [ -n "$line" ]; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  # Split at tabs by hand: read would merge the two tabs around an empty
  # replacement.
  file="${line%%$'\t'*}" rest="${line#*$'\t'}"
  find="${rest%%$'\t'*}" rest="${rest#*$'\t'}"
  replace="${rest%%$'\t'*}" label="${rest#*$'\t'}"
  [[ -n "$pattern" ]] && ! grep -q -- "$pattern" <<<"$label" && continue
  number=$((number + 1))
  log="$logs/$number.log"
  cp "$file" "$backup"
  if ! apply_fault "$file" "$find" "$replace" >"$log" 2>&1; then
    outcome="not applied"
  else
    mutated="$file"
    applied=$((applied + 1))
    if ! build "$log"; then
      outcome="build failed"
    elif run_tests "$log"; then
      outcome="survived"
    else
      outcome="killed"
      killed=$((killed + 1))
    fi
    restore
  fi
  results+=("$(printf '%-32s %-34s %s' "$label" "$file" "$outcome")")
  echo "${results[-1]}"
done <"$list"

build "$logs/final.log" || echo "rebuilding the unchanged sources failed; see $logs/final.log" >&2
echo
printf '%-32s %-34s %s\n' "fault" "file" "outcome"
printf '%s\n' "${results[@]}"
echo
echo "score: $killed killed of $applied applied (logs in $logs)"

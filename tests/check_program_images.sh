#!/bin/bash
# Checks each program image with objdump: a PE32+ x64 image for the Windows
# GUI subsystem, under 1.2 MB, that imports only DLLs every Windows has, with
# ASLR (dynamic base, high-entropy addresses, base relocations kept) and DEP.
# Usage: check_program_images.sh <objdump> <bin folder> <program.exe>...
set -u
objdump=$1 bin=$2
shift 2
allowed='^(KERNEL32|msvcrt|SHELL32|USER32|ADVAPI32|ntdll)\.dll$'
failed=0
for program in "$@"; do
  image="$bin/$program"
  if ! headers=$("$objdump" -p "$image" 2>&1); then
    echo "FAIL $program: objdump cannot read it: $headers"; failed=1; continue
  fi
  grep -q 'file format pei-x86-64' <<<"$headers" || { echo "FAIL $program: not a PE32+ x64 image"; failed=1; }
  grep -qE '^Subsystem\s+00000002' <<<"$headers" || { echo "FAIL $program: not the Windows GUI subsystem"; failed=1; }
  characteristics=$(sed -n 's/^DllCharacteristics\s*//p' <<<"$headers")
  # 0x20 high-entropy VA, 0x40 dynamic base, 0x100 NX compatible.
  for flag in 0x20:HIGH_ENTROPY_VA 0x40:DYNAMIC_BASE 0x100:NX_COMPAT; do
    if [ -z "$characteristics" ] || (( (0x$characteristics & ${flag%%:*}) == 0 )); then
      echo "FAIL $program: ${flag#*:} is not set (DllCharacteristics ${characteristics:-missing})"; failed=1
    fi
  done
  # A dynamic-base image without relocations is loaded at its fixed base.
  grep -qE '^Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory' <<<"$headers" ||
    { echo "FAIL $program: no base relocations, so no ASLR"; failed=1; }
  imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
  [ -n "$imports" ] || { echo "FAIL $program: no import table found"; failed=1; }
  while read -r dll; do
    [ -z "$dll" ] && continue
    if ! grep -qiE "$allowed" <<<"$dll"; then
      echo "FAIL $program: imports $dll, which is not a Windows system DLL"; failed=1
    fi
  done <<<"$imports"
  size=$(stat -c %s "$image")
  # A starter is copied into every installation: keep it small.
  if [ "$size" -ge 1258291 ]; then echo "FAIL $program: $size bytes, over 1.2 MB"; failed=1; fi
  echo "$program: $size bytes, imports: $(tr '\n' ' ' <<<"$imports")"
done
if [ $failed -ne 0 ]; then echo "program image checks failed"; exit 1; fi
echo "program image checks passed"

#!/usr/bin/env bash
# The shipped binaries run from a bare folder: each imports exactly the DLLs
# listed for it in imports.txt (Windows system DLLs, the UCRT, and Qt5Core.dll
# shipped beside the program; no MinGW, C++ or winpthreads DLLs, not the old
# msvcrt.dll), and the kernel's maths comes from the UCRT.
# Usage: check_imports.sh OBJDUMP FOLDER (holding the binaries imports.txt names)
set -uo pipefail
objdump=$1
folder=$2
expected=$(dirname "$0")/imports.txt
failed=0
while IFS=: read -r binary names; do
  case $binary in '#'* | '') continue ;; esac
  if [ ! -f "$folder/$binary" ]; then
    echo "$folder/$binary is missing" >&2
    failed=1
    continue
  fi
  imports=$("$objdump" -p "$folder/$binary") || { echo "$objdump cannot read $folder/$binary" >&2; failed=1; continue; }
  actual=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$imports" | tr 'A-Z' 'a-z' | sort -u | xargs)
  wanted=$(tr ' ' '\n' <<<"$names" | grep . | tr 'A-Z' 'a-z' | sort -u | xargs)
  if [ "$actual" != "$wanted" ]; then
    printf '%s imports:  %s\nexpected:  %s\n' "$binary" "$actual" "$wanted" >&2
    failed=1
  fi
  if [ "$binary" = DirUrarovavu.exe ]; then
    for name in sin cos atan pow; do
      sed -n '/DLL Name: ucrtbase.dll/,/DLL Name:/p' <<<"$imports" | grep -qE "[[:space:]]$name\$" ||
        { echo "$binary: $name is not taken from ucrtbase.dll" >&2; failed=1; }
    done
  fi
done <"$expected"
exit $failed

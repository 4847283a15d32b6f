#!/usr/bin/env bash
# The program runs from a bare folder: it imports Windows system DLLs only
# (no MinGW, C++ or Qt DLLs, and not the old msvcrt.dll beside the UCRT), and
# the kernel's maths comes from the UCRT. Usage: check_imports.sh OBJDUMP EXE
set -euo pipefail
imports=$("$1" -p "$2")
dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$imports" | tr '[:upper:]' '[:lower:]')
status=0
if grep -E '^(msvcr.*|lib.*|qt.*|.*mingw.*|.*pthread.*)\.dll$' <<<"$dlls"; then status=1; fi
ucrt=$(sed -n '/DLL Name: ucrtbase.dll/,/DLL Name:/p' <<<"$imports")
for name in sin cos atan pow; do
  grep -qE "[[:space:]]$name\$" <<<"$ucrt" || { echo "$name is not taken from ucrtbase.dll"; status=1; }
done
[ $status -eq 0 ] && echo "imports:" $dlls
exit $status

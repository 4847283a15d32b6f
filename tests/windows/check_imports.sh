#!/usr/bin/env bash
# The program runs from a bare folder: it imports Windows system DLLs only
# (no MinGW, C++ or Qt DLLs, and not the old msvcrt.dll beside the UCRT), and
# the kernel's maths comes from the UCRT. Usage: check_imports.sh OBJDUMP EXE
set -euo pipefail
imports=$("$1" -p "$2")
if grep -iE 'DLL Name: (msvcr.*|lib.*|qt.*|.*mingw.*|.*pthread.*)\.dll$' <<<"$imports"; then exit 1; fi
for name in sin cos atan pow; do
  sed -n '/DLL Name: ucrtbase.dll/,/DLL Name:/p' <<<"$imports" | grep -qE "[[:space:]]$name\$" ||
    { echo "$name is not taken from ucrtbase.dll"; exit 1; }
done

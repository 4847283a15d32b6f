#!/usr/bin/env bash
# The Windows zip as a user meets it: its files, the binaries' imports, and the
# program run from the unpacked folder under Wine from another working folder;
# without Qt5Core.dll beside it the program must not start (Qt Core is looked
# up there, not built in), and with it back it must.
# Usage: check_zip.sh ZIP OBJDUMP WINEPREFIX
set -uo pipefail
zip=$1
objdump=$2
prefix=$3
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check_zip.sh: $*" >&2
  exit 1
}

unzip -q "$zip" -d "$work/unpacked" || fail "cannot unpack $zip"
top=$(find "$work/unpacked" -mindepth 1 -maxdepth 1)
[ "$(wc -l <<<"$top")" -eq 1 ] && [ -d "$top" ] || fail "$zip does not hold exactly one top folder"
diff <(cd "$top" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) \
     <(grep -v '^#' "$here/zip_contents.txt" | LC_ALL=C sort) >&2 ||
  fail "the zip's files (<) differ from zip_contents.txt (>)"
cmp "$top/licenses/DirUrarovavu.txt" "$root/LICENSE" >&2 || fail "licenses/DirUrarovavu.txt is not the LICENSE"
grep -q 'qtbase-opensource-src=[0-9]' "$top/README.txt" || fail "README.txt names no Qt source version"
! grep -n '@[A-Z_]*@' "$top/README.txt" >&2 || fail "README.txt holds an unreplaced variable"
bash "$here/check_imports.sh" "$objdump" "$top" || fail "imports of the zip's binaries (above)"

# Started by path from an empty folder: no Qt5Core.dll in the working folder.
mkdir "$work/elsewhere"
run() {
  (cd "$work/elsewhere" && bash "$here/wine-run.sh" "$prefix" "$top/DirUrarovavu.exe" help) 2>"$work/stderr"
}
usage=$(run) || { cat "$work/stderr" >&2; fail "the unpacked program did not run"; }
diff <(tr -d '\r' <<<"$usage" | tail -n +6) <(tail -n +6 "$root/tools/farm/tests/data/usage.out") >&2 ||
  fail "the unpacked program's usage text differs (above)"
mv "$top/Qt5Core.dll" "$work/"
if output=$(run); then fail "the program started without Qt5Core.dll beside it"; fi
[ -z "$output" ] || fail "the program printed without Qt5Core.dll beside it: $output"
mv "$work/Qt5Core.dll" "$top/"
run >/dev/null || { cat "$work/stderr" >&2; fail "with Qt5Core.dll back the program did not run"; }
echo "zip: files, imports, runs from the unpacked folder, needs its Qt5Core.dll: ok"

#!/usr/bin/env bash
# The header's SpecificOperSys for each system of os_names.txt, set in Wine's
# registry (a prefix of its own, so the other tests keep Wine's default).
# Usage: os_name.sh WINEPREFIX program.exe
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1
program=$2
settings=$(mktemp --suffix=.reg)
trap 'rm -f "$settings"' EXIT
failed=0
while read -r type number build pack expected; do
  case $type in '#'* | '') continue ;; esac
  printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ProductOptions]' "\"ProductType\"=\"$type\"" '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion]' \
    "\"CurrentVersion\"=\"$number\"" "\"CurrentBuildNumber\"=\"$build\"" '' \
    '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Windows]' \
    "\"CSDVersion\"=dword:$(printf '%08x' $((pack * 256)))" >"$settings"
  bash "$here/wine-run.sh" "$prefix" reg import "$settings" >/dev/null 2>&1 ||
    { echo "cannot set Wine's registry for $type $number.$build" >&2; exit 1; }
  actual=$(bash "$here/wine-run.sh" "$prefix" "$program" help 2>&1 | tr -d '\r' | sed -n 's/^SpecificOperSys: //p')
  if [ "$actual" != "$expected" ]; then
    printf '%s %s.%s SP%s: SpecificOperSys "%s", expected "%s"\n' "$type" "$number" "$build" "$pack" "$actual" "$expected" >&2
    failed=1
  fi
done <"$here/os_names.txt"
exit $failed

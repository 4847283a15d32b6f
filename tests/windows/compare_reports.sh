#!/usr/bin/env bash
# The same machine seen by the Linux build and by the Windows build under
# Wine: processor counts, processor name and the clock written in it must
# agree, and whatever the Windows side could not read must show as ERRORS
# lines in the program's own wording.
# Usage: compare_reports.sh LINUX_PROBE WINDOWS_COMMAND...
set -uo pipefail
linux_probe=$1
shift
linux=$("$linux_probe") || { echo "the Linux probe failed"; exit 1; }
windows=$("$@" | tr -d '\r') || { echo "the Windows probe failed"; exit 1; }

field() { sed -n "/^== record$/,\$s/^$2: //p" <<<"$1"; }
errors() { sed -n '/^ERRORS:$/,/^------/p' <<<"$1" | sed '1d;$d' | sed '/^$/d'; }

failed=0
for name in coreCount coreCountHW hyperthreading cpuDescription cpuName mhzLabel; do
  l=$(field "$linux" "$name")
  w=$(field "$windows" "$name")
  if [ -z "$w" ] || [ "$l" != "$w" ]; then
    echo "differs: $name: Linux '$l', Windows '$w'"
    failed=1
  fi
done
[ "$(field "$windows" coreCount)" -ge 1 ] 2>/dev/null || { echo "no processors counted on Windows"; failed=1; }

# Every failure line names its call in the program's words.
known='^(getCorePercentage: |GetSystemFirmwareTable - |GetLogicalProcessorInformation\(\) |Allocation failure|Could not get ProcessorNameString|Out of memory$|Wrong [A-Za-z]+ version$|DMI table is broken$)'
while IFS= read -r line; do
  [ -z "$line" ] && continue
  if ! grep -qE "$known" <<<"$line"; then
    echo "unexpected ERRORS line: $line"
    failed=1
  fi
done <<<"$(errors "$windows")"

if [ $failed -ne 0 ]; then
  echo "== Linux build"; echo "$linux"
  echo "== Windows build under Wine"; echo "$windows"
  exit 1
fi
echo "Linux and Windows builds agree: $(field "$windows" coreCount) processors ($(field "$windows" coreCountHW) cores), '$(field "$windows" cpuDescription)', clock in name $(field "$windows" mhzLabel)"

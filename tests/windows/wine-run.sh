#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine (64-bit only; no display, no
# Wine chatter). The prefix lives in the build folder; the first use creates
# it. Usage: wine-run.sh PREFIX program.exe [arguments...]
set -euo pipefail
mkdir -p "$1"
export WINEPREFIX=$(cd "$1" && pwd)
shift
export WINEDEBUG=-all
# No .NET or HTML engines: the prefix needs neither, and without them Wine
# asks for no downloads.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Two test programs may start at once: one boots, the other waits for it.
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1 || true
    wineserver=$(dirname "$wine")/wineserver
    [ -x "$wineserver" ] || wineserver=wineserver
    WINEPREFIX=$WINEPREFIX "$wineserver" -w
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"

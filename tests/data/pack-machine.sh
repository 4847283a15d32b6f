#!/usr/bin/env bash
# Packs a recorded machine (a folder with proc/ and sys/) as
# tests/data/machines/<folder name>.tar.xz. Names sorted, one fixed time,
# owner and mode, and single-threaded xz: the same tree gives the same bytes.
set -euo pipefail
trap 'echo "pack-machine.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 <recorded machine folder>" >&2
  exit 2
fi
source=$(cd "$1" && pwd)
name=$(basename "$source")
out="$(cd "$(dirname "$0")" && pwd)/machines/$name.tar.xz"
LC_ALL=C tar -C "$(dirname "$source")" --sort=name --mtime='2026-01-01 00:00:00Z' --owner=0 --group=0 \
  --numeric-owner --mode='u=rwX,go=rX' --format=gnu -cf - "$name" | xz -9e -T1 -c >"$out.part"
mv "$out.part" "$out"
echo "$out"

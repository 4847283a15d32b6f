#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and runs it with the
# given arguments (none: the All test).
set -eEuo pipefail
trap 'echo "run.sh: \"$BASH_COMMAND\" failed (line $LINENO, status $?)" >&2' ERR
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPS_BUILD_TESTS=OFF >/dev/null
cmake --build build --target DirUrarovavu
exec ./build/DirUrarovavu "$@"

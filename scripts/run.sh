#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and runs it with the
# given arguments (none: the All test).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPS_BUILD_TESTS=OFF >/dev/null
ninja -C build DirUrarovavu
exec ./build/DirUrarovavu "$@"

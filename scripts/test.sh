#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite:
# the optimised build, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the runner under ThreadSanitizer, the Windows
# program with its own and the end-to-end tests under Wine and its zip, and
# a short run of each fuzz target.
set -eEuo pipefail
# Every step says what failed; the line and command name the step.
trap 'echo "test.sh: \"$BASH_COMMAND\" failed (line $LINENO, status $?)" >&2' ERR
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test

configure() {  # build dir, extra cmake arguments...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DPS_BUILD_TESTS=ON "$@" >/dev/null
}

echo "== Optimised build"
configure build-test -DCMAKE_BUILD_TYPE=Release
ninja -C build-test -j2
ctest --test-dir build-test --output-on-failure -j2
echo "== Debian package and farm playbook" && bash scripts/test-package.sh build-test
echo "== Farm engines: Slurm, pdsh, ClusterShell" && bash scripts/test-farm-engines.sh build-test

echo "== Windows build (MinGW-w64, UCRT, Qt5Core.dll), tests under Wine, zip"
windows_start=$SECONDS
bash scripts/build-qt-windows.sh >/dev/null  # takes the cached Qt, or builds it (about 700 CPU-seconds)
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DPS_LINUX_E2E="$PWD/build-test/tests/e2e_tests" >/dev/null
ninja -C build-win -j2
ctest --test-dir build-win --output-on-failure -j2 -LE e2e
(cd build-win && cpack -G ZIP >/dev/null)
# The zip's files and imports; its program run from the unpacked folder, and
# not without the Qt5Core.dll beside it.
bash tests/windows/check_zip.sh build-win/DirUrarovavu-*-win64.zip x86_64-w64-mingw32-objdump build-win/wineprefix
echo "Windows build, tests and zip: $((SECONDS - windows_start)) s"

echo "== The Windows program under Wine, end to end (the Linux build's end-to-end tests)"
wine_start=$SECONDS
ctest --test-dir build-win --output-on-failure -L e2e
echo "Windows program end to end: $((SECONDS - wine_start)) s"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
configure build-asan -DCMAKE_BUILD_TYPE=Release -DPS_SANITIZE=address,undefined
ninja -C build-asan -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2

echo "== ThreadSanitizer (worker threads and runner)"
configure build-tsan -DCMAKE_BUILD_TYPE=Release -DPS_SANITIZE=thread
ninja -C build-tsan -j2 bench_tests e2e_tests
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" ctest --test-dir build-tsan --output-on-failure -L 'bench|e2e' -R "${PS_TSAN_TESTS:-Worker|Runner|SingleSpeed}"

echo "== Fuzz targets"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DPS_BUILD_TESTS=OFF -DPS_BUILD_FUZZERS=ON \
  -DPS_SANITIZE=address,undefined >/dev/null
fuzz_targets=$(ls fuzz/*_fuzz.cpp | xargs -n1 basename | sed 's/\.cpp$//')
ninja -C build-fuzz -j2 $fuzz_targets
for name in $fuzz_targets; do
  target=build-fuzz/fuzz/$name
  corpus=$(mktemp -d)
  log=$(mktemp)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
  if [ "$name" = smbios_fuzz ]; then
    # The recorded firmware tables, behind the 8-byte header the firmware call adds.
    for table in tests/data/smbios/*/DMI; do
      [ -f "$table" ] || { echo "No SMBIOS tables in tests/data/smbios to seed $name with" >&2; exit 1; }
      seed="$corpus/$(basename "$(dirname "$table")")"
      perl -e 'print pack("CCCCV", 0, 3, 0, 0, -s $ARGV[0])' "$table" >"$seed"
      cat "$table" >>"$seed"
    done
  fi
  if ! "$target" -max_total_time="${PS_FUZZ_SECONDS:-5}" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "$name found a crash; the input is kept in the working directory." >&2
    exit 1
  fi
  echo "$name: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs, no crash"
  rm -rf "$corpus" "$log"
done

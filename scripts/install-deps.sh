#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing: "run" what building and
# running the benchmark needs, "test" that and what the test suite needs.
# A render node that only runs the benchmark gets no Wine, compilers for other
# systems or cluster daemons (their packages start system services).
set -euo pipefail
trap 'echo "install-deps.sh: \"$BASH_COMMAND\" failed (line $LINENO, status $?)" >&2' ERR

run_packages=(cmake ninja-build g++ qtbase5-dev)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
               locales procps file)  # the suites; localedef, ps and file in the tests
# the Windows build under Wine
test_packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest wine wine64 unzip make)
# the farm program, the package, the playbook
test_packages+=(python3 python3-apt dpkg-dev lintian ansible prometheus-node-exporter)
test_packages+=(slurm-wlm munge clustershell pdsh iproute2)  # the farm engines test

case "${1:-}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps.sh: run as root to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
apt=(apt-get -o DPkg::Lock::Timeout=900 -qq)
"${sudo_cmd[@]}" "${apt[@]}" update
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y --no-install-recommends "${missing[@]}"

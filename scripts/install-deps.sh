#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ make qtbase5-dev libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev locales)
packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest wine wine64 unzip)  # the Windows build under Wine
packages+=(python3 python3-apt dpkg-dev file lintian ansible)  # the farm program, the package and its checks
packages+=(slurm-wlm munge clustershell pdsh prometheus-node-exporter)  # the farm engines test
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

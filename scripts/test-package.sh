#!/usr/bin/env bash
# Builds the Debian package in a configured build folder (default build-test),
# checks it with lintian, unpacks it into a temporary root and runs the installed
# benchmark from there; then, as root, runs the Ansible playbook against this
# machine under two inventory names, which installs the package for real.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
started=$(date +%s)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ninja -C "$build" -j2 DirUrarovavu packaging_files >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$PWD/$build/dirurarovavu_${version}_amd64.deb
dpkg -c "$deb"
dpkg -f "$deb" Depends
lintian --fail-on error "$deb" 2>&1 | grep -v 'not recommended' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || { echo "lintian found errors in $deb"; exit 1; }

root=$work/root
dpkg -x "$deb" "$root"
usage=$("$root/usr/bin/DirUrarovavu" --help) || { echo "the installed benchmark failed"; exit 1; }
grep -q '^Usage: $' <<<"$usage" || { echo "the installed benchmark printed no usage text"; exit 1; }
"$root/usr/bin/dirurarovavu-farm" --version | grep -qx "dirurarovavu-farm $version"
for page in "$root"/usr/share/man/man1/*.1.gz; do gzip -t "$page"; done
echo "package: $(basename "$deb") installs into a temporary root; its benchmark prints the usage text"

if [ "$(id -u)" -ne 0 ]; then
  echo "playbook test skipped: installing the package needs root"
else
  cat >"$work/inventory" <<INVENTORY
[farm]
node-a
node-b

[farm:vars]
ansible_connection=local
ansible_python_interpreter=/usr/bin/python3
INVENTORY
  # One benchmark at a time: both names are this machine.
  ANSIBLE_NOCOLOR=1 ANSIBLE_LOCALHOST_WARNING=0 ansible-playbook -i "$work/inventory" ansible/farm.yml \
    -e "deb=$deb" -e farm_test=SingleSpeed -e "farm_results=$work/results" -e farm_throttle=1 \
    -e "farm_program=$root/usr/bin/dirurarovavu-farm" >"$work/playbook.log" 2>&1 ||
    { cat "$work/playbook.log"; echo "the playbook failed"; exit 1; }
  cat "$work/results/farm.txt"
  rows=$("$root/usr/bin/dirurarovavu-farm" collect "$work/results" --csv | tail -n +2 | wc -l)
  [ "$rows" -eq 2 ] || { echo "the farm table has $rows rows, not 2"; exit 1; }
  grep -q '<svg' "$work/results/farm.html" || { echo "no chart in farm.html"; exit 1; }
  [ -z "${PS_KEEP_FARM_RESULTS:-}" ] || cp -r "$work/results" "$PS_KEEP_FARM_RESULTS"
fi
echo "package and playbook checks: $(( $(date +%s) - started )) s"

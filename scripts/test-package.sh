#!/usr/bin/env bash
# Builds the Debian package in a configured build folder (default build-test),
# checks it with lintian, unpacks it into a temporary root and runs the installed
# benchmark from there; then, as root, installs it and runs the README's playbook
# command against this machine under three inventory names, one of them failing,
# beside a record left from an earlier run, and checks the farm table.
set -eEuo pipefail
trap 'echo "test-package.sh: \"$BASH_COMMAND\" failed (line $LINENO, status $?)" >&2' ERR
cd "$(dirname "$0")/.."
build=${1:-build-test}
started=$(date +%s)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" -j2 --target DirUrarovavu packaging_files >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$PWD/$build/dirurarovavu_${version}_amd64.deb
dpkg -c "$deb"
dpkg -f "$deb" Depends
lintian --fail-on error "$deb" 2>&1 | grep -v 'not recommended' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || { echo "lintian found errors in $deb" >&2; exit 1; }

root=$work/root
dpkg -x "$deb" "$root"
usage=$("$root/usr/bin/DirUrarovavu" --help) || { echo "the installed benchmark failed" >&2; exit 1; }
grep -q '^Usage: $' <<<"$usage" || { echo "the installed benchmark printed no usage text" >&2; exit 1; }
"$root/usr/bin/dirurarovavu-farm" --version | grep -qx "dirurarovavu-farm $version"
"$root/usr/bin/dirurarovavu-farm" parse tools/farm/tests/data/singlespeed.out >/dev/null
for page in "$root"/usr/share/man/man1/*.1.gz; do gzip -t "$page"; done
echo "package: $(basename "$deb") installs into a temporary root; its benchmark prints the usage text"

if [ "$(id -u)" -ne 0 ]; then
  echo "playbook test skipped: installing the package needs root"
  exit 0
fi
# --reinstall: an installed package of the same version is not replaced otherwise.
apt-get install -y -qq --reinstall --no-install-recommends -o DPkg::Lock::Timeout=600 "$deb" >/dev/null
cmp -s ansible/farm.yml /usr/share/dirurarovavu/ansible/farm.yml ||
  { echo "the installed playbook is not this one" >&2; exit 1; }
controller=$work/controller
mkdir -p "$controller/farm"
cp "$deb" "$controller/"
cat >"$controller/inventory" <<INVENTORY
[farm]
node-a ansible_connection=local
node-b ansible_connection=local
node-c ansible_connection=local farm_benchmark=/bin/false

[farm:vars]
ansible_python_interpreter=/usr/bin/python3
farm_throttle=1
INVENTORY
# A record of node-a from an earlier run, faster than anything here: it must not show.
"$root/usr/bin/dirurarovavu-farm" parse tools/farm/tests/data/singlespeed.out --host node-a |
  sed 's/"ps_result": 16.757/"ps_result": 999.5/; s/"score": 16.757/"score": 999.5/' >"$controller/farm/node-a.json"
command=$(sed -n '/^ansible-playbook -b -i inventory/,/farm_results/p' README.md | sed 's/\\$//' | tr -d '\n' |
          sed "s/dirurarovavu_[0-9.]*_amd64/dirurarovavu_${version}_amd64/")
[ -n "$command" ] || { echo "no playbook command in README.md" >&2; exit 1; }
echo "$ (in the controller's folder) $command"
status=0
(cd "$controller" && ANSIBLE_NOCOLOR=1 ANSIBLE_LOCALHOST_WARNING=0 bash -c "$command") >"$work/playbook.log" 2>&1 ||
  status=$?
table=$controller/farm/farm.txt
fail() { cat "$work/playbook.log" >&2; echo "playbook: $*" >&2; exit 1; }
[ -f "$table" ] || fail "no farm.txt in the controller's ./farm"
cat "$table"
grep -E '^fatal: \[localhost\]' -A1 "$work/playbook.log" | cut -c1-200 || true
sed -n '/^PLAY RECAP/,$p' "$work/playbook.log"
[ "$status" -ne 0 ] || fail "it succeeded although node-c failed"
grep -q 'a host failed or is below farm_min_score' "$work/playbook.log" || fail "it did not say that a host failed"
grep -Eq '^1 +node-(a|b) ' "$table" && grep -Eq '^2 +node-(a|b) ' "$table" || fail "node-a and node-b are not first"
grep -Eq "^3 +node-c +.*FAILED" "$table" && grep -q "^node-c: DirUrarovavu ended with exit code 1" "$table" ||
  fail "node-c is not shown as FAILED with its own record"
! grep -q '999' "$table" || fail "the earlier run's record shows"
runs=("$controller"/farm/2*/)
[ ${#runs[@]} -eq 1 ] && [ "$(ls "${runs[0]}"/*.json | wc -l)" -eq 3 ] || fail "not one run folder with three records"
cmp -s "$table" "${runs[0]}/farm.txt" && grep -q '<svg' "$controller/farm/farm.html" || fail "no latest table or chart"
[ -z "${PS_KEEP_FARM_RESULTS:-}" ] || cp -r "$controller/farm" "$PS_KEEP_FARM_RESULTS"
echo "package and playbook checks: $(( $(date +%s) - started )) s"

#!/usr/bin/env bash
# Builds the Debian package in a configured build folder (default build-test),
# checks it with lintian, unpacks it into a temporary root and runs the installed
# benchmark from there; then, as root, installs it and runs the README's playbook
# command against this machine under three inventory names, one of them failing,
# beside a record left from an earlier run, and checks the farm table, the history
# and one host's metrics file; then once more with every host failing or unreachable.
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
# The health check finds the farm modules where the package puts them, and refuses a typo.
printf 'FARM=%s\nSCONTROL=/bin/true\nMIN_SCORE=15O  # the bar\n' "$root/usr/bin/dirurarovavu-farm" >"$work/healthcheck.conf"
refused=$(PS_HEALTHCHECK_CONF=$work/healthcheck.conf "$root/usr/share/dirurarovavu/slurm/healthcheck" 2>&1) &&
  { echo "the installed health check accepted MIN_SCORE=15O"; exit 1; }
grep -q 'MIN_SCORE=15O: not a number' <<<"$refused" || { echo "the installed health check: $refused"; exit 1; }
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
node-a ansible_connection=local farm_prom_file=$controller/dirurarovavu.prom
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
# One run folder: every host is new to the history; the earlier record beside the folders is no run.
cat "$controller/farm/history.txt"
grep -Eq '^node-a +SingleSpeed +1 .*NEW$' "$controller/farm/history.txt" &&
  cmp -s "$controller/farm/history.txt" "${runs[0]}/history.txt" && grep -q '<svg' "$controller/farm/history.html" ||
  fail "no history beside the table"
grep -qx 'dirurarovavu_run_success{test="SingleSpeed"} 1' "$controller/dirurarovavu.prom" || fail "node-a wrote no metrics"

# Every host failing, one of them unreachable and one whose benchmark cannot start: the play still
# writes this run's table and history, and they are the latest; the metrics say the run failed.
cat >"$controller/inventory-failing" <<INVENTORY
[farm]
node-a ansible_connection=local farm_benchmark=/nonexistent farm_prom_file=$controller/dirurarovavu.prom
node-d ansible_connection=ssh ansible_host=127.0.0.1 ansible_port=9

[farm:vars]
ansible_python_interpreter=/usr/bin/python3
INVENTORY
status=0
(cd "$controller" && ANSIBLE_NOCOLOR=1 ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_HOST_KEY_CHECKING=0 ansible-playbook \
  -i inventory-failing /usr/share/dirurarovavu/ansible/farm.yml -e farm_test=SingleSpeed -e farm_results=./farm) \
  >"$work/playbook.log" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "it succeeded although every host failed"
cat "$table"
runs=("$controller"/farm/2*/)
[ ${#runs[@]} -eq 2 ] && cmp -s "$table" "${runs[1]}/farm.txt" || fail "no table of the failing run, or it is not the latest"
grep -Eq '^[12] +node-a +.*FAILED' "$table" && grep -Eq '^[12] +node-d +.*FAILED' "$table" &&
  grep -q '^node-d: no record came back from the host: Reach the host: ' "$table" || fail "node-a and node-d are not FAILED"
grep -Eq '^node-a +SingleSpeed +2 .*FAILED$' "$controller/farm/history.txt" &&
  cmp -s "$controller/farm/history.txt" "${runs[1]}/history.txt" || fail "no history of the failing run as the latest"
grep -qx 'dirurarovavu_run_success{test="SingleSpeed"} 0' "$controller/dirurarovavu.prom" &&
  ! grep -q '^dirurarovavu_score' "$controller/dirurarovavu.prom" || fail "node-a's metrics do not say its run failed"
[ -z "${PS_KEEP_FARM_RESULTS:-}" ] || cp -r "$controller/farm" "$PS_KEEP_FARM_RESULTS"
echo "package and playbook checks: $(( $(date +%s) - started )) s"

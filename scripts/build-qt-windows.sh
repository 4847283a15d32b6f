#!/usr/bin/env bash
# Builds Qt 5 Core for 64-bit Windows as Qt5Core.dll (MinGW-w64, Universal C
# Runtime, the GCC and winpthreads runtimes linked in) from Debian's own
# qtbase source package and caches the installed prefix. The prefix is keyed
# by the source version, the configure flags, the compiler and the runtime
# bridge; only a finished build is moved into place, so an interrupted one is
# never taken for a finished one, and once it is, older prefixes are removed.
# Prints the prefix; a warm cache costs seconds. $PS_QT_CACHE overrides the
# cache folder, $PS_QT_JOBS the parallel jobs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${PS_QT_CACHE:-/var/cache/dirurarovavu}
source_package=qtbase-opensource-src
cross=x86_64-w64-mingw32
jobs=${PS_QT_JOBS:-2}
bridge=$here/qt-windows-ucrt-data.c
# -shared with -static link flags: Qt5Core.dll carries the GCC, C++ and
# winpthreads runtimes itself (configure refuses -static-runtime with -shared).
flags=(-opensource -confirm-license -xplatform win32-g++ -release -shared
       -nomake examples -nomake tests -no-gui -no-widgets -no-opengl -no-dbus -no-icu
       -no-feature-network -no-feature-sql -no-feature-xml -no-feature-testlib
       -no-feature-concurrent -no-feature-mimetype-database -qt-zlib -qt-pcre
       "QMAKE_LFLAGS+=-static")

fail() {
  echo "build-qt-windows.sh: $*" >&2
  exit 1
}
# Anything not caught below still names itself.
trap 'status=$?; echo "build-qt-windows.sh: line $LINENO: \"$BASH_COMMAND\" failed with status $status" >&2' ERR

missing=()
for tool in apt-get apt-cache dpkg-source dpkg-query flock make perl g++ sha256sum \
            "$cross-gcc-posix" "$cross-g++-posix"; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ ${#missing[@]} -eq 0 ] || fail "missing programs: ${missing[*]} (scripts/install-deps.sh installs them)"
[ -f "$bridge" ] || fail "$bridge is missing"

# The whole program, Qt included, links one C runtime: the UCRT (ucrtbase.dll),
# as Windows programs built with Visual Studio do. Debian's MinGW defaults to
# msvcrt.dll, so the compiler's specs swap the import library. The headers
# stay the ones Debian's libstdc++ was compiled with (they reach the C runtime
# through calls both runtimes' import libraries provide); declaring the UCRT
# to them would change mbstate_t under libstdc++. Debian's winpthreads calls
# msvcrt's _setjmp, which the UCRT exports under its intrinsic name.
ucrt_specs() {
  "$cross-g++-posix" -dumpspecs |
    sed 's/-lmsvcrt/-u __intrinsic_setjmp --defsym=_setjmp=__intrinsic_setjmp -lucrtbase/'
}

mkdir -p "$cache" || fail "cannot create the cache folder $cache"
exec 9>"$cache/.qt-build.lock"
flock 9  # one build at a time; a second caller waits and then takes the cache

# The newest version of the source package any deb-src entry offers; empty
# when none does (apt-cache then fails, which must not end the script).
source_version() {
  { apt-cache showsrc --only-source "$source_package" 2>/dev/null || true; } |
    sed -n 's/^Version: //p' | sort -V | tail -n1
}

# Source entries beside the machine's Debian binary ones (same archive, same
# suites), in either format apt reads: deb822 from a current installation,
# one-line sources.list from the installer or debootstrap.
add_source_entries() {
  local deb822=/etc/apt/sources.list.d/debian.sources
  local oneline=/etc/apt/sources.list
  local added=0
  if [ -f "$deb822" ] && grep -qE '^Types:.*\bdeb\b' "$deb822" &&
     [ ! -f /etc/apt/sources.list.d/dirurarovavu-deb-src.sources ]; then
    sed -E 's/^Types:.*$/Types: deb-src/' "$deb822" >/etc/apt/sources.list.d/dirurarovavu-deb-src.sources
    added=1
  fi
  if [ -f "$oneline" ] && grep -qE '^[[:space:]]*deb[[:space:]]' "$oneline" &&
     [ ! -f /etc/apt/sources.list.d/dirurarovavu-deb-src.list ]; then
    sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$oneline" >/etc/apt/sources.list.d/dirurarovavu-deb-src.list
    added=1
  fi
  [ "$added" -eq 1 ] ||
    fail "no source of $source_package: apt knows no deb-src entry for it, and neither $deb822 nor $oneline holds a Debian 'deb' entry to derive one from"
}

apt_update() {
  local log
  log=$(apt-get update -qq 2>&1) || { echo "$log" >&2; fail "apt-get update failed (above)"; }
}

version=$(source_version)
if [ -z "$version" ]; then
  # No source index yet: fetch it, first adding entries where there are none.
  grep -qsE '^[[:space:]]*deb-src[[:space:]]|^Types:.*\bdeb-src\b' /etc/apt/sources.list \
    /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources || add_source_entries
  apt_update
  version=$(source_version)
  [ -n "$version" ] ||
    fail "apt-get update ran, but no deb-src entry offers $source_package (see /etc/apt/sources.list.d/dirurarovavu-deb-src.*)"
fi
runtime=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev 2>/dev/null) ||
  fail "mingw-w64-x86-64-dev is not installed (scripts/install-deps.sh installs it)"
key=$( { echo "$version"; echo "${flags[*]}"; "$cross-g++-posix" --version | head -n1;
         echo "mingw-w64 $runtime"; ucrt_specs; cat "$bridge"; } | sha256sum | cut -c1-16)
prefix=$cache/qt5-mingw-ucrt-$key
current=$cache/qt5-mingw  # the toolchain file's default
if [ ! -f "$prefix/.complete" ]; then
  rm -rf "$prefix"
  work=$(mktemp -d "$cache/.build-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  started=$SECONDS
  echo "Building Qt $version for Windows in $work (about 700 CPU-seconds)" >&2
  # Compiler front ends that carry the runtime's specs, under the names Qt's
  # mkspec derives from CROSS_COMPILE.
  mkdir "$work/bin"
  ucrt_specs >"$work/bin/ucrt.specs"
  for tool in /usr/bin/$cross-*; do ln -s "$tool" "$work/bin/"; done
  for compiler in gcc g++; do
    rm "$work/bin/$cross-$compiler"
    printf '#!/bin/sh\nexec %s -specs=%s "$@"\n' "$cross-$compiler-posix" "$work/bin/ucrt.specs" \
      >"$work/bin/$cross-$compiler"
    chmod +x "$work/bin/$cross-$compiler"
  done
  "$work/bin/$cross-gcc" -O2 -c "$bridge" -o "$work/bin/ucrt-data.o" 2>"$work/bridge.log" ||
    { cat "$work/bridge.log" >&2; fail "compiling $bridge failed (above)"; }
  # A source index older than the archive names a version no longer there.
  if ! (cd "$work" && apt-get source -qq "$source_package=$version" >"$work/source.log" 2>&1); then
    apt_update
    (cd "$work" && apt-get source -qq "$source_package=$version" >"$work/source.log" 2>&1) ||
      { tail -n 20 "$work/source.log" >&2; fail "apt-get source $source_package=$version failed (above)"; }
  fi
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qtbase*')
  [ -n "$src" ] && [ -x "$src/configure" ] || fail "apt-get source left no qtbase source tree in $work"
  mkdir "$work/build"
  cd "$work/build"
  # Only Qt5Core.dll's link takes the bridge (the one DLL this build links).
  "$src/configure" -prefix "$prefix" -device-option CROSS_COMPILE="$work/bin/$cross-" "${flags[@]}" \
    "QMAKE_LFLAGS_DLL+=$work/bin/ucrt-data.o" >"$work/configure.log" 2>&1 ||
    { tail -n 40 "$work/configure.log" >&2; fail "Qt's configure failed (the log's end above)"; }
  { make -s -j"$jobs" sub-src-qmake_all && make -s -j"$jobs" -C src sub-corelib && make -s -j"$jobs" &&
    make -s install INSTALL_ROOT="$work/root"; } >"$work/make.log" 2>&1 ||
    { tail -n 40 "$work/make.log" >&2; fail "building Qt failed (the log's end above)"; }
  [ -f "$work/root$prefix/bin/Qt5Core.dll" ] || fail "the build installed no bin/Qt5Core.dll"
  mkdir -p "$work/root$prefix/share/licenses"
  cp "$src/LICENSE.LGPL3" "$src/LICENSE.GPL3" "$src/debian/copyright" "$work/root$prefix/share/licenses/"
  # What a replacement Qt5Core.dll needs beside Debian's source.
  cp "$work/bin/ucrt.specs" "$bridge" "$work/root$prefix/"
  echo "$version" >"$work/root$prefix/.source-version"
  echo "Qt $version for Windows built in $((SECONDS - started)) s" >&2
  touch "$work/root$prefix/.complete"
  mv "$work/root$prefix" "$prefix"
fi
ln -sfn "$(basename "$prefix")" "$current.new" && mv -T "$current.new" "$current"
# Only the current key stays: other keys' prefixes and builds that were cut
# off (the lock is ours, so no build of another caller is running).
find "$cache" -mindepth 1 -maxdepth 1 \( -name 'qt5-mingw-ucrt-*' -o -name '.build-*' \) \
  ! -name "$(basename "$prefix")" ! -path "${work:-/nonexistent}" -exec rm -rf {} +
echo "$prefix"

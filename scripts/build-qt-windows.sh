#!/usr/bin/env bash
# Builds Qt 5 Core for 64-bit Windows (static, MinGW-w64, Universal C Runtime)
# from Debian's own qtbase source package and caches the installed prefix.
# The prefix is keyed by the source version, the configure flags and the
# compiler, and only a finished build is moved into place, so an interrupted
# one is never taken for a finished one. Prints the prefix; a warm cache costs
# seconds. $PS_QT_CACHE overrides the cache folder.
set -euo pipefail
cache=${PS_QT_CACHE:-/var/cache/dirurarovavu}
source_package=qtbase-opensource-src
cross=x86_64-w64-mingw32
jobs=${PS_QT_JOBS:-2}
flags=(-opensource -confirm-license -xplatform win32-g++ -release -static
       -nomake examples -nomake tests -no-gui -no-widgets -no-opengl -no-dbus -no-icu
       -no-feature-network -no-feature-sql -no-feature-xml -no-feature-testlib
       -no-feature-concurrent -no-feature-mimetype-database -qt-zlib -qt-pcre)

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

mkdir -p "$cache"
exec 9>"$cache/.qt-build.lock"
flock 9  # one build at a time; a second caller waits and then takes the cache

# Source entries beside the machine's binary ones: same archive, same suites.
sources=/etc/apt/sources.list.d/debian.sources
source_entries=/etc/apt/sources.list.d/dirurarovavu-deb-src.sources
if [ -f "$sources" ] && [ ! -f "$source_entries" ]; then
  sed 's/^Types: deb$/Types: deb-src/' "$sources" >"$source_entries"
  apt-get update -qq
fi
version=$(apt-cache showsrc --only-source "$source_package" 2>/dev/null |
          sed -n 's/^Version: //p' | sort -V | tail -n1)
if [ -z "$version" ]; then
  apt-get update -qq
  version=$(apt-cache showsrc --only-source "$source_package" | sed -n 's/^Version: //p' | sort -V | tail -n1)
fi
runtime=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev)
key=$( { echo "$version"; echo "${flags[*]}"; "$cross-g++-posix" --version | head -n1;
         echo "mingw-w64 $runtime"; ucrt_specs; } | sha256sum | cut -c1-16)
prefix=$cache/qt5-mingw-ucrt-$key
current=$cache/qt5-mingw  # the toolchain file's default
if [ ! -f "$prefix/.complete" ]; then
  rm -rf "$prefix"
  work=$(mktemp -d "$cache/.build-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  started=$SECONDS
  echo "Building Qt $version for Windows in $work (about 1000 CPU-seconds)" >&2
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
  (cd "$work" && apt-get source -qq "$source_package=$version" >/dev/null 2>&1 ||
                 apt-get source "$source_package=$version")
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qtbase*')
  mkdir "$work/build"
  cd "$work/build"
  "$src/configure" -prefix "$prefix" -device-option CROSS_COMPILE="$work/bin/$cross-" "${flags[@]}" \
    >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log" >&2; exit 1; }
  { make -s -j"$jobs" sub-src-qmake_all && make -s -j"$jobs" -C src sub-corelib && make -s -j"$jobs" &&
    make -s install INSTALL_ROOT="$work/root"; } >"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log" >&2; exit 1; }
  mkdir -p "$work/root$prefix/share/licenses"
  cp "$src/LICENSE.LGPL3" "$src/LICENSE.GPL3" "$src/debian/copyright" "$work/root$prefix/share/licenses/"
  cp "$work/bin/ucrt.specs" "$work/root$prefix/ucrt.specs"
  echo "$version" >"$work/root$prefix/.source-version"
  echo "Qt $version for Windows built in $((SECONDS - started)) s" >&2
  touch "$work/root$prefix/.complete"
  mv "$work/root$prefix" "$prefix"
fi
ln -sfn "$(basename "$prefix")" "$current.new" && mv -T "$current.new" "$current"
echo "$prefix"

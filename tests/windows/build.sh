#!/usr/bin/env bash
# Builds the 64-bit Windows DLL with MinGW-w64 and collects what ships:
#
#   bash tests/windows/build.sh [BUILD_DIR]      (default: build-windows)
#
# BUILD_DIR/release/ then holds stlrefine.dll, its import library stlrefine.lib,
# the module-definition file stlrefine.def, the header stlrefine.h and the
# command-line tool stlrefine.exe. Run as root on a machine without the cross
# compiler, it installs it with apt-get first.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$repo/build-windows}"
triple=x86_64-w64-mingw32

if ! command -v "$triple-g++-posix" >/dev/null; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "installing the MinGW-w64 cross compiler"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64-posix mingw-w64 cmake make >/dev/null
  else
    echo "missing $triple-g++-posix: install g++-mingw-w64-x86-64-posix and mingw-w64" >&2
    exit 1
  fi
fi

cmake -S "$repo" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_WERROR=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target stlrefine stlrefine_cli

release="$build/release"
rm -rf "$release"
mkdir -p "$release"
# Symbols are only of use to a debugger; the export table stays as it is.
"$triple-strip" --strip-unneeded -o "$release/stlrefine.dll" "$build/stlrefine.dll"
"$triple-strip" --strip-unneeded -o "$release/stlrefine.exe" "$build/stlrefine.exe"
cp "$build/stlrefine.lib" "$repo/src/api/stlrefine.def" "$repo/include/stlrefine.h" "$release/"
echo "Windows release in $release:"
ls -l "$release"

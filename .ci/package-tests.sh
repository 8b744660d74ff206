#!/usr/bin/env bash
# Packages as users get them: builds the .deb and the .tar.gz with CPack,
# installs the .deb with apt-get and uses it through the CLI, Python,
# pkg-config and find_package; checks that the unpacked .tar.gz works where
# it lies. The package is removed again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-package
work=$(mktemp -d)
trap 'apt-get purge -y stlrefine >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_WERROR=ON \
  -DSTLREFINE_BUILD_TESTS=OFF -DSTLREFINE_BUILD_BENCH=OFF
cmake --build "$build" -j2
(cd "$build" && cpack)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
check() { cmake -DSTL="$1" -P "$root/tests/consumer/check_ascii_stl.cmake"; }

echo "--- the .deb"
apt-get install -y "$build"/stlrefine_*.deb
cd "$work"
stlrefine --help | grep -q '^usage: stlrefine'
[ "$(stlrefine --version)" = "stlrefine $version" ]
stlrefine /usr/share/doc/stlrefine/examples/torus.stl cli.stl -n 1 | grep -qx 'subdivision triangle done!!'
check cli.stl
env -u STLREFINE_LIBRARY /usr/bin/python3 -m stlrefine /usr/share/doc/stlrefine/examples/torus.stl py.stl -n 1 >/dev/null
check py.stl
cc /usr/share/doc/stlrefine/examples/refine.c -o refine $(pkg-config --cflags --libs stlrefine)
./refine /usr/share/doc/stlrefine/examples/torus.stl pc.stl 1 >/dev/null
check pc.stl
cmake -S "$root/tests/consumer/find_package" -B find_package -DSTLREFINE_EXPECTED_VERSION="$version" >/dev/null
cmake --build find_package >/dev/null
(cd find_package && ctest --output-on-failure)
apt-get purge -y stlrefine

echo "--- the .tar.gz, unpacked anywhere"
mkdir tgz && tar -xzf "$build"/stlrefine-*-Linux.tar.gz -C tgz
unpacked=$(echo "$work"/tgz/stlrefine-*)
[ "$("$unpacked/bin/stlrefine" --version)" = "stlrefine $version" ]
PKG_CONFIG_PATH=$unpacked/lib/pkgconfig pkg-config --libs stlrefine | grep -q -- "-L$unpacked/lib/pkgconfig/../../lib"
loaded=$(env -u STLREFINE_LIBRARY PYTHONPATH="$unpacked/lib/python3/dist-packages" \
  /usr/bin/python3 -c 'import stlrefine; print(stlrefine.library_path())')
case $loaded in "$unpacked"/lib/*) ;; *) echo "tarball module loaded $loaded"; exit 1 ;; esac
echo "packages: ok"

#!/bin/sh
# An outside build that finds an installed stlrefine through pkg-config only:
# compiles the C example with `pkg-config --cflags --libs stlrefine` and runs
# it on the bundled mesh.
#   pkg_config.sh PREFIX LIBDIR EXAMPLES WORKDIR VERSION
set -eu
prefix=$1 libdir=$2 examples=$3 work=$4 version=$5
here=$(cd "$(dirname "$0")" && pwd)

# pkg-config escapes a space in a path with a backslash that $(...) does not
# undo: the prefix is reached through a link in a folder without one.
link=$(mktemp -d /tmp/stlrefine-pkg-config.XXXXXX)
trap 'rm -rf "$link"' EXIT
ln -s "$prefix" "$link/prefix"
export PKG_CONFIG_PATH="$link/prefix/$libdir/pkgconfig"
found=$(pkg-config --modversion stlrefine)
[ "$found" = "$version" ] || { echo "pkg-config reports version $found, expected $version"; exit 1; }

rm -rf "$work" && mkdir -p "$work" && cd "$work"
${CC:-cc} -Wall -Wextra -Werror "$examples/refine.c" -o refine $(pkg-config --cflags --libs stlrefine)

# pkg-config gives no run-time path: tell the loader where the library is.
export LD_LIBRARY_PATH="$(pkg-config --variable=libdir stlrefine)"
./refine "$examples/torus.stl" out.stl 1 > progress.txt
grep -qx 'subdivision triangle done!!' progress.txt
"${CMAKE:-cmake}" -DSTL=out.stl -P "$here/check_ascii_stl.cmake"

status=0
./refine no-such-file.stl unused.stl > missing.txt || status=$?
[ "$status" -eq 1 ] && grep -qx 'I/O fail' missing.txt && [ ! -e unused.stl ] ||
  { echo "missing input: exit status $status"; cat missing.txt; exit 1; }
echo "pkg-config consumer: ok"

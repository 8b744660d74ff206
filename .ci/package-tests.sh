#!/usr/bin/env bash
# Installs and packages as users do, by the command blocks of docs/install.md
# run as written in a fresh copy of the source tree: from source into
# /usr/local (used through the CLI and Debian's python3, then removed), the
# .deb installed with apt-get and used through the CLI, Python, the man page,
# pkg-config and find_package, and the .tar.gz unpacked anywhere. Runs as
# root; the package and the /usr/local install are removed again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
src=$work/src
# Debian's own tools: a python3 earlier on PATH (pyenv, a virtualenv) is not
# the interpreter that the install and the package are for.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export DEBIAN_FRONTEND=noninteractive

block() {  # block NAME: runs that block of docs/install.md from the current folder
  echo "--- docs/install.md: $1"
  bash -euxo pipefail -c "$(sh "$src/tests/consumer/doc_block.sh" "$src/docs/install.md" "$1")"
}
check() { cmake -DSTL="$1" -P "$src/tests/consumer/check_ascii_stl.cmake"; }
uninstall_local() {  # what the from-source block installed, and the folders it made
  local manifest=$src/build/install_manifest.txt
  [ -f "$manifest" ] || return 0
  xargs -d '\n' rm -f <"$manifest"
  find /usr/local -type d | LC_ALL=C sort | LC_ALL=C comm -23 - "$work/folders-before" | LC_ALL=C sort -r |
    xargs -d '\n' -r rmdir --ignore-fail-on-non-empty
  rm -f "$manifest"
  ldconfig
}
cleanup() {
  apt-get purge -y stlrefine >/dev/null 2>&1 || true
  uninstall_local
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$src"
tar -C "$root" --exclude=./.git --exclude='./build*' -cf - . | tar -xf - -C "$src"
cd "$src"

find /usr/local -type d | LC_ALL=C sort >"$work/folders-before"
block from-source
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
pydir=$(sed -n 's/^STLREFINE_PYTHON_DIR:STRING=//p' build/CMakeCache.txt)
echo "--- the install in /usr/local (Python module in $pydir)"
[ "$(command -v stlrefine)" = /usr/local/bin/stlrefine ]
[ "$(stlrefine --version)" = "stlrefine $version" ]
test -f /usr/local/share/man/man1/stlrefine.1.gz
test -f /usr/local/share/doc/stlrefine/copyright
(
  cd "$work"
  module=$(env -u STLREFINE_LIBRARY -u PYTHONPATH python3 -c 'import stlrefine; print(stlrefine.__file__)')
  [ "$module" = "/usr/local/$pydir/stlrefine/__init__.py" ] || { echo "python3 imported $module"; exit 1; }
  env -u STLREFINE_LIBRARY -u PYTHONPATH python3 -m stlrefine "$src/examples/torus.stl" local.stl -n 1 >/dev/null
  check local.stl
)
block uninstall
[ ! -e /usr/local/bin/stlrefine ] && [ ! -e "/usr/local/$pydir/stlrefine/__init__.py" ]
uninstall_local  # the folders

block debian-package
echo "--- the .deb"
[ "$(stlrefine --version)" = "stlrefine $version" ]
check build/torus-fine.stl
files=$(dpkg -L stlrefine)
for file in /usr/share/doc/stlrefine/copyright /usr/share/man/man1/stlrefine.1.gz \
            "/usr/$pydir/stlrefine/__init__.py" /usr/share/doc/stlrefine/examples/refine.c; do
  grep -qx "$file" <<<"$files" || { echo "not in the package: $file"; exit 1; }
done
head -1 /usr/share/doc/stlrefine/copyright |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'
grep -qx 'License: Expat' /usr/share/doc/stlrefine/copyright
warnings=$(zcat /usr/share/man/man1/stlrefine.1.gz | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || { echo "man page: $warnings"; exit 1; }
mkdir "$work/pkg-config" && (cd "$work/pkg-config" && block pkg-config && check torus-fine.stl)
cmake -S "$src/tests/consumer/find_package" -B "$work/find_package" \
  -DSTLREFINE_EXPECTED_VERSION="$version" >/dev/null
cmake --build "$work/find_package" >/dev/null
(cd "$work/find_package" && ctest --output-on-failure)
apt-get purge -y stlrefine

(cd build && block tarball)
echo "--- the .tar.gz, unpacked anywhere"
unpacked=$src/build/stlrefine-$version-Linux
PKG_CONFIG_PATH=$unpacked/lib/pkgconfig pkg-config --libs stlrefine | grep -q -- "-L$unpacked/lib/pkgconfig/../../lib"
loaded=$(cd "$work" && env -u STLREFINE_LIBRARY PYTHONPATH="$unpacked/$pydir" \
  python3 -c 'import stlrefine; print(stlrefine.library_path())')
case $loaded in "$unpacked"/lib/*) ;; *) echo "tarball module loaded $loaded"; exit 1 ;; esac
echo "packages: ok"

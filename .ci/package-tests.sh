#!/usr/bin/env bash
# Installs and packages as users do, by the command blocks of docs/install.md
# run as written in a fresh copy of the source tree: from source into
# /usr/local (used through the CLI and Debian's python3, then removed), into
# ~/.local (the Python module imported without PYTHONPATH), the Debian
# packages built by `make deb`, checked by lintian, installed with apt-get,
# used through the CLI, the man page, Python, pkg-config and find_package and
# purged without a trace, and the .tar.gz unpacked anywhere. Runs as root on
# Debian 12 and installs what it needs; what it installs of stlrefine is
# removed again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
src=$work/src
# Debian's own tools: a python3 earlier on PATH (pyenv, a virtualenv) is not
# the interpreter that the install and the packages are for.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export DEBIAN_FRONTEND=noninteractive
packages=(libstlrefine0 libstlrefine-dev stlrefine python3-stlrefine)

apt-get update -qq
apt-get install -y -qq --no-install-recommends build-essential cmake pkg-config python3 groff-base man-db \
  debhelper dh-python dpkg-dev lintian >/dev/null

block() {  # block NAME: runs that block of docs/install.md from the current folder
  echo "--- docs/install.md: $1"
  bash -euxo pipefail -c "$(sh "$src/tests/consumer/doc_block.sh" "$src/docs/install.md" "$1")"
}
check() { cmake -DSTL="$1" -P "$src/tests/consumer/check_ascii_stl.cmake"; }
module_dir() {  # module_dir MANIFEST: the folder the stlrefine module was installed in
  sed -n 's|/stlrefine/__init__\.py$||p' "$1"
}
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
  apt-get purge -y "${packages[@]}" >/dev/null 2>&1 || true
  uninstall_local
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$src"
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./dist -cf - . | tar -xf - -C "$src"
cd "$src"
version=$(sed -n 's/^project(stlrefine VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

find /usr/local -type d | LC_ALL=C sort >"$work/folders-before"
block from-source
pydir=$(module_dir build/install_manifest.txt)
echo "--- the install in /usr/local (Python module in $pydir)"
[ "$(command -v stlrefine)" = /usr/local/bin/stlrefine ]
[ "$(stlrefine --version)" = "stlrefine $version" ]
test -f /usr/local/share/man/man1/stlrefine.1.gz
test -f /usr/local/share/doc/stlrefine/copyright
(
  cd "$work"
  module=$(env -u STLREFINE_LIBRARY -u PYTHONPATH python3 -c 'import stlrefine; print(stlrefine.__file__)')
  [ "$module" = "$pydir/stlrefine/__init__.py" ] || { echo "python3 imported $module"; exit 1; }
  env -u STLREFINE_LIBRARY -u PYTHONPATH python3 -m stlrefine "$src/examples/torus.stl" local.stl -n 1 >/dev/null
  check local.stl
)
block uninstall
[ ! -e /usr/local/bin/stlrefine ] && [ ! -e "$pydir/stlrefine/__init__.py" ]
uninstall_local  # the folders

echo "--- cmake --install --prefix \$HOME/.local: python3 imports the module from there"
(
  export HOME=$work/home
  mkdir "$HOME" && cd "$HOME"
  cmake --install "$src/build" --prefix "$HOME/.local" >/dev/null
  module=$(env -u STLREFINE_LIBRARY -u PYTHONPATH python3 -c 'import stlrefine; print(stlrefine.__file__)')
  case $module in "$HOME"/.local/lib/python3.*/site-packages/stlrefine/__init__.py) ;;
    *) echo "python3 imported $module"; exit 1 ;; esac
  env -u STLREFINE_LIBRARY -u PYTHONPATH python3 -m stlrefine -q "$src/examples/torus.stl" user.stl
  check user.stl
)
rm "$src/build/install_manifest.txt"  # it lists the install in ~/.local now

# Every file under /usr and /etc before the packages, to compare after the purge.
find /usr /etc | LC_ALL=C sort >"$work/files-before"
block debian-packages
echo "--- lintian"
lintian --fail-on error,warning --pedantic --display-info dist/*.deb
echo "--- the packages in use"
for package in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status} ${Version}' "$package")" = "install ok installed $version" ]
  test -f "/usr/share/doc/$package/copyright" && test -f "/usr/share/doc/$package/changelog.gz"
done
[ "$(stlrefine --version)" = "stlrefine $version" ]
check torus-fine.stl
man -P cat stlrefine | grep -q -- '--max-height'
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
[ "$(dpkg -S "/usr/lib/$multiarch/libstlrefine.so.0")" = "libstlrefine0:$(dpkg --print-architecture): /usr/lib/$multiarch/libstlrefine.so.0" ]
(
  cd "$work"
  module=$(env -u STLREFINE_LIBRARY -u PYTHONPATH /usr/bin/python3 -c 'import stlrefine; print(stlrefine.__file__)')
  [ "$module" = /usr/lib/python3/dist-packages/stlrefine/__init__.py ] || { echo "python3 imported $module"; exit 1; }
  [ "$(env -u STLREFINE_LIBRARY -u PYTHONPATH python3 -m stlrefine --version)" = "stlrefine $version" ]
)
mkdir "$work/pkg-config" && (cd "$work/pkg-config" && block pkg-config && check torus-fine.stl)
cmake -S "$src/tests/consumer/find_package" -B "$work/find_package" \
  -DSTLREFINE_EXPECTED_VERSION="$version" >/dev/null
cmake --build "$work/find_package" >/dev/null
(cd "$work/find_package" && ctest --output-on-failure)
block purge
echo "--- nothing left behind"
[ -z "$(dpkg-query -W -f='${Package}\n' "${packages[@]}" 2>/dev/null)" ] || { echo "still known to dpkg"; exit 1; }
find /usr /etc | LC_ALL=C sort | diff "$work/files-before" - || { echo "files differ after the purge"; exit 1; }

(cd build && block tarball)
echo "--- the .tar.gz, unpacked anywhere"
unpacked=$src/build/stlrefine-$version-Linux
PKG_CONFIG_PATH=$unpacked/lib/pkgconfig pkg-config --libs stlrefine | grep -q -- "-L$unpacked/lib/pkgconfig/../../lib"
module=$(find "$unpacked" -path '*/stlrefine/__init__.py')
loaded=$(cd "$work" && env -u STLREFINE_LIBRARY PYTHONPATH="${module%/stlrefine/__init__.py}" \
  python3 -c 'import stlrefine; print(stlrefine.library_path())')
case $loaded in "$unpacked"/lib/*) ;; *) echo "tarball module loaded $loaded"; exit 1 ;; esac
echo "packages: ok"

#!/usr/bin/env bash
# The Windows checks of continuous integration: installs the MinGW-w64 cross
# compiler and Wine, then builds the DLL and tests it under Wine against the
# Linux build (tests/windows/run-tests.sh), and makes the Windows zip by the
# commands of docs/install.md in a fresh copy of the source tree. Runs as
# root, without a terminal or a display; Wine gets a private prefix under the
# build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

packages=(g++-mingw-w64-x86-64-posix mingw-w64 wine wine64 cmake make g++ perl)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

bash tests/windows/run-tests.sh "${STLREFINE_WINDOWS_BUILD:-build-windows-ci}" </dev/null

echo "--- docs/install.md: windows-zip"
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -C "$root" --exclude=./.git --exclude='./build*' -cf - . | tar -xf - -C "$work"
(cd "$work" && bash -euxo pipefail -c "$(sh tests/consumer/doc_block.sh docs/install.md windows-zip)") >"$work/zip.log" 2>&1 ||
  { cat "$work/zip.log"; exit 1; }
zip=$(echo "$work"/build-win/stlrefine-*-win64.zip)
listing=$(cd "$work" && cmake -E tar tf "$zip")
top=$(basename "$zip" .zip)
for file in README.md LICENSE bin/stlrefine.dll bin/stlrefine.exe lib/stlrefine.lib lib/stlrefine.def \
            include/stlrefine.h python/stlrefine/__init__.py share/doc/stlrefine/examples/torus.stl; do
  grep -qx "$top/$file" <<<"$listing" || { echo "not in $(basename "$zip"): $file"; exit 1; }
done
echo "windows zip: ok ($(basename "$zip"))"

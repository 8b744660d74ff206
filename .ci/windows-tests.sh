#!/usr/bin/env bash
# The Windows checks of continuous integration: installs the MinGW-w64 cross
# compiler and Wine, then builds the DLL and tests it under Wine against the
# Linux build (tests/windows/run-tests.sh). Runs as root, without a terminal
# or a display; Wine gets a private prefix under the build folder.
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

#!/bin/sh
# Configures tests/consumer/add_subdirectory and checks that stlrefine, as a
# subproject, adds no test, no install rule and no build type to its parent.
#   add_subdirectory.sh SOURCE_DIR WORK_DIR
set -eu
src=$1 work=$2
cmake=${CMAKE:-cmake}
rm -rf "$work"
"$cmake" -S "$src/tests/consumer/add_subdirectory" -B "$work" -DSTLREFINE_SOURCE_DIR="$src" >/dev/null

tests=$(cd "$work" && "${CTEST:-ctest}" -N | sed -n 's/^ *Test *#[0-9]*: //p')
[ "$tests" = parent_test ] || { echo "tests in the parent project:"; echo "$tests"; exit 1; }

type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$work/CMakeCache.txt")
[ -z "$type" ] || { echo "build type set to '$type'"; exit 1; }

# The install script of the parent installs its own program and nothing else.
rules=$(grep -ho 'file(INSTALL DESTINATION "[^"]*"[^)]*' "$work/cmake_install.cmake" "$work/stlrefine/cmake_install.cmake" || true)
case $rules in *stlrefine*) echo "stlrefine installs:"; echo "$rules"; exit 1 ;; esac
[ -n "$rules" ] || { echo "no install rule found at all"; exit 1; }
echo "subproject: no tests, no install rules, no build type"

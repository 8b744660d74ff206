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

# The parent installs its own program; the install scripts of the subproject
# (its folder in the build tree) install nothing. Paths are not matched by
# name: the source tree's own folder may well be called stlrefine.
rules=$(find "$work/stlrefine" -name cmake_install.cmake -exec grep -h 'file(INSTALL' {} + || true)
[ -z "$rules" ] || { echo "stlrefine installs:"; echo "$rules"; exit 1; }
grep -q 'file(INSTALL DESTINATION "[^"]*" TYPE EXECUTABLE FILES "[^"]*/refine")' "$work/cmake_install.cmake" ||
  { echo "the parent's own install rule is missing"; exit 1; }
echo "subproject: no tests, no install rules, no build type"

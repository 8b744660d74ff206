#!/bin/sh
# The CMake snippet of docs/install.md as a project of its own, configured,
# built and run by the commands that follow it there, against an install in
# "$HOME/.local".
#   docs_find_package.sh SOURCE_DIR PREFIX WORK_DIR
set -eu
src=$1 prefix=$2 work=$3
block() { sh "$src/tests/consumer/doc_block.sh" "$src/docs/install.md" "$1"; }

rm -rf "$work" && mkdir -p "$work/home" "$work/project" && cd "$work/project"
ln -s "$prefix" "$work/home/.local"
export HOME="$work/home"
block find-package >CMakeLists.txt
cp "$src/examples/refine.c" .
sh -eux -c "$(block find-package-build)"
"${CMAKE:-cmake}" -DSTL=torus-fine.stl -P "$src/tests/consumer/check_ascii_stl.cmake"

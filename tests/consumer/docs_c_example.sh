#!/bin/sh
# The README's C example, built and run by the README's own commands, from a
# folder laid out as the source tree: include/, examples/ and the build
# folder build/.
#   docs_c_example.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -eu
src=$1 build=$2 work=$3
block() { sh "$src/tests/consumer/doc_block.sh" "$src/README.md" "$1"; }

rm -rf "$work" && mkdir -p "$work" && cd "$work"
ln -s "$src/include" include
ln -s "$src/examples" examples
ln -s "$build" build
block c-example >host.c
sh -eux -c "$(block c-example-build)"
"${CMAKE:-cmake}" -DSTL=part-fine.stl -P "$src/tests/consumer/check_ascii_stl.cmake"

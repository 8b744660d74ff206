#!/bin/sh
# The Python example of docs/python.md and its commands for a source tree, run
# as written from a folder laid out as the source tree (build/ is the build).
#   docs_python.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -eu
src=$1 build=$2 work=$3
block() { sh "$src/tests/consumer/doc_block.sh" "$src/docs/python.md" "$1"; }

rm -rf "$work" && mkdir -p "$work" && cd "$work"
for dir in python examples tests; do ln -s "$src/$dir" "$dir"; done
ln -s "$build" build
cp "$src/examples/torus.stl" part.stl
block python-example >example.py
sh -eux -c "$(block python-source-tree)"
sh -eux -c "$(block python-tests)"
PYTHONPATH=python STLREFINE_LIBRARY="$build/libstlrefine.so" python3 example.py
for stl in part-fine.stl torus-fine.stl; do
  "${CMAKE:-cmake}" -DSTL="$stl" -P "$src/tests/consumer/check_ascii_stl.cmake"
done

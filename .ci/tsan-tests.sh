#!/usr/bin/env bash
# ThreadSanitizer: the test of several threads calling both exports at once,
# with the library and the test built with -fsanitize=thread. Any data race
# report fails the run. (The thousand calls in a row of the same test file run
# single-threaded; the plain and the AddressSanitizer builds cover them.)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TSAN_BUILD:-build-tsan}  # build directory

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTLREFINE_SANITIZE=thread \
  -DSTLREFINE_BUILD_BENCH=OFF
cmake --build "$build" --target test_concurrency -j2

# Kernels with many bits of address randomisation can place mappings where
# ThreadSanitizer's shadow memory must go; run without randomisation.
run=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  run=(setarch "$(uname -m)" -R)
fi
TSAN_OPTIONS="halt_on_error=1 abort_on_error=1 second_deadlock_stack=1" \
  "${run[@]}" "$build/tests/test_concurrency" --gtest_filter='Concurrency.Simultaneous*'

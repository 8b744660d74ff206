#!/usr/bin/env bash
# Fuzzing: builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs both at once (one per core) for a
# bounded time. Any crash, sanitizer report, leak, per-input timeout or
# memory blow-up fails the run; the input is kept in the build directory and
# printed in base64 so that it can be added to the regression tests.
#
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_BUILD     build directory (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
export DEBIAN_FRONTEND=noninteractive

clang_ok() {
  command -v clang++ >/dev/null &&
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null
}
if ! clang_ok; then
  apt-get update
  apt-get install -y --no-install-recommends clang libclang-rt-14-dev
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTLREFINE_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build "$build" --target fuzz_stl_reader fuzz_pipeline -j2

# name, longest input
targets=("fuzz_stl_reader 16384 reader" "fuzz_pipeline 4096 pipeline")
rm -rf "$build/fuzz-run"
pids=()
for entry in "${targets[@]}"; do
  read -r target maxlen seeds <<<"$entry"
  run=$build/fuzz-run/$target
  mkdir -p "$run/corpus" "$run/artifacts"
  # The seeds are read, never written: new inputs go to the run's own corpus.
  "$build/fuzz/$target" "$run/corpus" "$root/fuzz/corpus/$seeds" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -max_len="$maxlen" -dict="$root/fuzz/stl.dict" -print_final_stats=1 \
    -artifact_prefix="$run/artifacts/" >"$run/log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  read -r target _ _ <<<"${targets[$i]}"
  run=$build/fuzz-run/$target
  status=0
  wait "${pids[$i]}" || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/log")
  echo "$target: exit $status, ${runs:-?} executions in ${seconds} s"
  if [ "$status" -ne 0 ] || ls "$run/artifacts"/* >/dev/null 2>&1; then
    failed=1
    echo "--- $target failed; the end of its log:"
    grep -v '^#[0-9]' "$run/log" | tail -40
    for artifact in "$run/artifacts"/*; do
      [ -e "$artifact" ] || continue
      echo "--- $artifact (base64):"
      base64 "$artifact" | head -c 20000
      echo
    done
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "fuzzing: ok"

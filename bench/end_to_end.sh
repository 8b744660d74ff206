#!/usr/bin/env bash
# End-to-end benchmark of the stlrefine CLI on deterministic tori, set against
# floors measured in the same run: a bare std::to_chars loop that formats the
# output's floats and writes them (format_floor), and writing as many bytes as
# the output has (dd from /dev/zero in 1 MiB blocks).
#
#   bench/end_to_end.sh [BUILD_DIR] [RUNS] [BASELINE_CLI]
#
# BASELINE_CLI, when given, is timed in the same hyperfine runs (for a
# before/after comparison; its output must equal the project's). Needs
# hyperfine (apt-get install hyperfine) and python3; builds the CLI and the
# bench tools in BUILD_DIR (Release, benchmarks on).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-bench}
RUNS=${2:-7}
BASELINE=${3:-}
DATA=$BUILD/bench-data
mkdir -p "$DATA"

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target stlrefine_cli make_mesh format_floor >/dev/null

# name rings sides iterations [make_mesh options]
CASES=(
  "torus-49k 256 192 1"
  "torus-49k-shuffled 256 192 1 --shuffle 7"
  "torus-49k-ascii 256 192 1 --ascii"
  "torus-2k-n3 64 32 3"
  "torus-1M-facets 1024 512 1"
)

median() { python3 -c 'import json,sys,statistics as s; r=json.load(open(sys.argv[1]))["results"]; print(" ".join(str(s.median(x["times"])) for x in r))' "$1"; }

printf '%-20s %8s %8s %8s %7s %8s %7s %8s %8s\n' case "cli[s]" "base[s]" "floor[s]" "/floor" "write[s]" "/write" "out[MB]" "rss[MB]"
for entry in "${CASES[@]}"; do
  read -r name rings sides iterations options <<<"$entry"
  input=$DATA/$name.stl
  [ -s "$input" ] || "$BUILD/bench/make_mesh" "$rings" "$sides" "$input" $options
  run="$BUILD/stlrefine -n $iterations $input $DATA/out.stl"
  $run >/dev/null 2>&1
  bytes=$(stat -c %s "$DATA/out.stl")
  commands=("$run" "dd if=/dev/zero of=$DATA/scratch bs=1M count=$bytes iflag=count_bytes status=none")
  if [ -n "$BASELINE" ]; then
    "$BASELINE" -n "$iterations" "$input" "$DATA/base.stl" >/dev/null
    cmp -s "$DATA/out.stl" "$DATA/base.stl" || { echo "$name: the baseline writes other bytes" >&2; exit 1; }
    commands+=("$BASELINE -n $iterations $input $DATA/base.stl")
  fi
  hyperfine -N --style none --warmup 1 --runs "$RUNS" --export-json "$DATA/run.json" "${commands[@]}" >/dev/null 2>&1
  read -r cli write base <<<"$(median "$DATA/run.json")"
  rss_kb=$( { /usr/bin/time -v $run >/dev/null; } 2>&1 | awk -F: '/Maximum resident/ {gsub(/ /,"",$2); print $2}')
  floor=1e9
  for _ in $(seq "$RUNS"); do
    s=$("$BUILD/bench/format_floor" "$DATA/out.stl" "$DATA/scratch" | cut -d' ' -f1)
    floor=$(python3 -c "print(min($floor, $s))")
  done
  python3 - "$name" "$cli" "${base:-0}" "$floor" "$write" "$bytes" "$rss_kb" <<'PY'
import sys
name, cli, base, floor, write, size, rss = sys.argv[1:]
cli, base, floor, write = map(float, (cli, base, floor, write))
b = f"{base:8.3f}" if base else f"{'-':>8}"
print(f"{name:<20} {cli:8.3f} {b} {floor:8.3f} {cli / floor:7.2f} {write:8.3f} {cli / write:7.1f} "
      f"{int(size) / 1e6:8.1f} {int(rss) / 1024:8.1f}")
PY
done
rm -f "$DATA/scratch" "$DATA"/*.json "$DATA/out.stl" "$DATA/base.stl"

#!/usr/bin/env bash
# End-to-end benchmark of the stlrefine CLI on deterministic tori, set against
# the floors measured in the same run: reading the input (cat), writing as
# many bytes as the output has, and a bare std::to_chars loop that formats the
# output's floats and writes them.
#
#   bench/end_to_end.sh [BUILD_DIR] [RUNS]
#
# Needs hyperfine (apt-get install hyperfine) and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-5}
DATA=$BUILD/bench-data
mkdir -p "$DATA"

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target stlrefine_cli make_mesh format_floor >/dev/null

# name rings sides iterations [make_mesh options]
CASES=(
  "torus-2k 64 32 1"
  "torus-12k 128 96 1"
  "torus-49k 256 192 1"
  "torus-49k-shuffled 256 192 1 --shuffle 7"
  "torus-49k-ascii 256 192 1 --ascii"
  "torus-1M-facets 1024 512 1"
)

mean() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"])' "$1"; }

printf '%-20s %9s %9s %7s %9s %9s %9s %9s\n' case "time[s]" "floor[s]" ratio "cat[s]" "write[s]" "out[MB]" "rss[MB]"
for entry in "${CASES[@]}"; do
  read -r name rings sides iterations options <<<"$entry"
  input=$DATA/$name.stl
  output=$DATA/$name.refined.stl
  [ -s "$input" ] || "$BUILD/bench/make_mesh" "$rings" "$sides" "$input" $options
  run="$BUILD/stlrefine -n $iterations $input $output"

  hyperfine -N --style none --warmup 1 --runs "$RUNS" --export-json "$DATA/run.json" "$run" >/dev/null 2>&1
  time_s=$(mean "$DATA/run.json")
  rss_kb=$( { /usr/bin/time -v $run >/dev/null; } 2>&1 | awk -F: '/Maximum resident/ {gsub(/ /,"",$2); print $2}')
  bytes=$(stat -c %s "$output")

  hyperfine -N --style none --warmup 1 --runs "$RUNS" --export-json "$DATA/cat.json" "cat $input" >/dev/null 2>&1
  hyperfine -N --style none --warmup 1 --runs "$RUNS" --export-json "$DATA/write.json" \
    "dd if=/dev/zero of=$DATA/scratch bs=1M count=$bytes iflag=count_bytes status=none" >/dev/null 2>&1
  floor=1e9
  for _ in $(seq "$RUNS"); do
    s=$("$BUILD/bench/format_floor" "$output" "$DATA/scratch" | cut -d' ' -f1)
    floor=$(python3 -c "print(min($floor, $s))")
  done
  python3 - "$name" "$time_s" "$floor" "$(mean "$DATA/cat.json")" "$(mean "$DATA/write.json")" "$bytes" "$rss_kb" <<'PY'
import sys
name, t, floor, cat, write, size, rss = sys.argv[1:]
t, floor, cat, write = map(float, (t, floor, cat, write))
print(f"{name:<20} {t:9.3f} {floor:9.3f} {t / floor:7.2f} {cat:9.3f} {write:9.3f} {int(size) / 1e6:9.1f} {int(rss) / 1024:9.1f}")
PY
done
rm -f "$DATA/scratch" "$DATA"/*.json

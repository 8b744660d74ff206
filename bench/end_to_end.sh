#!/usr/bin/env bash
# End-to-end benchmark of the stlrefine CLI on deterministic tori, set against
# floors measured in the same run: the whole job done the plainest way with
# std::to_chars for the numbers (format_floor, which must write exactly the
# CLI's bytes), and writing as many bytes as the output has (dd from
# /dev/zero in 1 MiB blocks).
#
#   bench/end_to_end.sh [BUILD_DIR] [ROUNDS] [BASELINE_CLI]
#
# Every round runs each command once, in turn (hyperfine -N, one run each),
# so a slow spell of the machine falls on all columns alike; the table gives
# medians over the rounds. BASELINE_CLI, when given, is timed in the same
# rounds (for a before/after comparison; its output must equal the
# project's). Needs hyperfine (apt-get install hyperfine) and python3; builds
# the CLI and the bench tools in BUILD_DIR (Release, benchmarks on).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-bench}
ROUNDS=${2:-7}
BASELINE=${3:-}
DATA=$BUILD/bench-data
mkdir -p "$DATA"

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target stlrefine_cli make_mesh format_floor >/dev/null

# name rings sides iterations floor-input [make_mesh options]
CASES=(
  "torus-49k 256 192 1 torus-49k"
  "torus-49k-shuffled 256 192 1 torus-49k-shuffled --shuffle 7"
  "torus-49k-ascii 256 192 1 torus-49k --ascii"
  "torus-2k-n3 64 32 3 torus-2k-n3"
  "torus-1M-facets 1024 512 1 torus-1M-facets"
)

commands=() rows=()
for entry in "${CASES[@]}"; do
  read -r name rings sides iterations twin options <<<"$entry"
  input=$DATA/$name.stl
  [ -s "$input" ] || "$BUILD/bench/make_mesh" "$rings" "$sides" "$input" $options
  cli="$BUILD/stlrefine -n $iterations $input $DATA/$name.out.stl"
  # Warm-up run: the floor splits as often as the CLI really did (the vertex
  # limit may stop it early) and must write the same bytes.
  ran=$($cli 2>&1 >/dev/null | sed -n 's/.* \([0-9]*\) of [0-9]* iterations.*/\1/p')
  floor="$BUILD/bench/format_floor $DATA/$twin.stl $DATA/$name.floor.stl $ran"
  $floor
  cmp -s "$DATA/$name.out.stl" "$DATA/$name.floor.stl" || { echo "$name: the floor writes other bytes" >&2; exit 1; }
  bytes=$(stat -c %s "$DATA/$name.out.stl")
  rss_kb=$( { /usr/bin/time -v $cli >/dev/null; } 2>&1 | awk -F: '/Maximum resident/ {gsub(/ /,"",$2); print $2}')
  commands+=(--command-name "$name cli" "$cli" --command-name "$name floor" "$floor"
             --command-name "$name write" "dd if=/dev/zero of=$DATA/$name.dd bs=1M count=$bytes iflag=count_bytes status=none")
  if [ -n "$BASELINE" ]; then
    "$BASELINE" -n "$iterations" "$input" "$DATA/$name.base.stl" >/dev/null 2>&1
    cmp -s "$DATA/$name.out.stl" "$DATA/$name.base.stl" || { echo "$name: the baseline writes other bytes" >&2; exit 1; }
    commands+=(--command-name "$name base" "$BASELINE -n $iterations $input $DATA/$name.base.stl")
  fi
  rows+=("$name $bytes $rss_kb")
  rm -f "$DATA/$name".*.stl
done

# Each command starts with no earlier output on disk: the page cache of a
# gigabyte of files written before would otherwise make the later commands
# of a round pay for memory the virtual machine has to hand back first.
clean="rm -f $DATA/*.out.stl $DATA/*.floor.stl $DATA/*.base.stl $DATA/*.dd"
for round in $(seq "$ROUNDS"); do
  hyperfine -N --style none --runs 1 --prepare "sh -c '$clean'" --export-json "$DATA/round-$round.json" "${commands[@]}" >/dev/null 2>&1
done
sh -c "$clean"

python3 - "$DATA" "$ROUNDS" "${rows[@]}" <<'PY'
import glob, json, statistics, sys
data, rounds, rows = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
times = {}
for path in glob.glob(f"{data}/round-*.json"):
    for result in json.load(open(path))["results"]:
        times.setdefault(result["command"], []).extend(result["times"])
median = {command: statistics.median(t) for command, t in times.items()}
print(f"medians of {rounds} alternating rounds")
print(f"{'case':<20} {'cli[s]':>8} {'base[s]':>8} {'floor[s]':>8} {'/floor':>7} {'write[s]':>8} {'/write':>7} "
      f"{'out[MB]':>8} {'rss[MB]':>8}")
for row in rows:
    name, size, rss = row.split()
    cli, floor, write = (median[f"{name} {c}"] for c in ("cli", "floor", "write"))
    base = f"{median[name + ' base']:8.3f}" if name + " base" in median else f"{'-':>8}"
    print(f"{name:<20} {cli:8.3f} {base} {floor:8.3f} {cli / floor:7.2f} {write:8.3f} {cli / write:7.1f} "
          f"{int(size) / 1e6:8.1f} {int(rss) / 1024:8.1f}")
PY
rm -f "$DATA"/round-*.json

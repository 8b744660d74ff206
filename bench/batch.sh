#!/usr/bin/env bash
# Batches and standard streams of the stlrefine CLI, measured in one run:
#
#   bench/batch.sh [BUILD_DIR] [ROUNDS]      (defaults: build, 5)
#
# 1. 32 copies of the 49k-vertex torus (torus_50k.stl of
#    ../shared/bench/gen_meshes.py, made if missing) refined with -d, -j 1
#    and -j 2 in turn, ROUNDS rounds: files per second of each, and the
#    ratio of the medians.
# 2. The same torus through a pipe (cat | stlrefine - - > out) and file to
#    file, in turn: seconds of each, their ratio, and whether the bytes agree.
# Run it on a quiet machine (compare `uptime` before and after).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cli="$(cd "${1:-$repo/build}" && pwd)/stlrefine"
rounds="${2:-5}"
meshes="${STLBENCH_MESHES:-$HOME/.cache/stlbench/meshes}"
[ -f "$meshes/torus_50k.stl" ] || python3 "$repo/../shared/bench/gen_meshes.py" "$meshes" >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out"
for i in $(seq -w 1 32); do cp "$meshes/torus_50k.stl" "$work/in/torus$i.stl"; done

seconds() {  # seconds COMMAND...: wall time of the command, its output dropped
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  echo "$EPOCHREALTIME - $start" | bc -l
}
median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
fastest() { tr ' ' '\n' | sort -g | head -1; }

echo "load before: $(uptime)"
j1="" j2=""
for round in $(seq "$rounds"); do
  a=$(seconds "$cli" -q -j 1 -d "$work/out" "$work"/in/*.stl)
  b=$(seconds "$cli" -q -j 2 -d "$work/out" "$work"/in/*.stl)
  j1+=" $a" j2+=" $b"
  printf 'round %d: -j 1 %.2f files/s, -j 2 %.2f files/s\n' "$round" "$(echo "32 / $a" | bc -l)" \
    "$(echo "32 / $b" | bc -l)"
done
m1=$(median <<<"${j1# }") m2=$(median <<<"${j2# }")
printf 'batch of 32, median: -j 1 %.2f files/s, -j 2 %.2f files/s, ratio %.2f\n' \
  "$(echo "32 / $m1" | bc -l)" "$(echo "32 / $m2" | bc -l)" "$(echo "$m1 / $m2" | bc -l)"

pipe="" file=""
torus="$work/in/torus01.stl"
for round in $(seq $((3 * rounds))); do
  a=$(seconds sh -c 'cat "$1" | "$2" -q - - > "$3"' sh "$torus" "$cli" "$work/pipe.stl")
  b=$(seconds sh -c '"$2" -q "$1" "$3"' sh "$torus" "$cli" "$work/file.stl")
  pipe+=" $a" file+=" $b"
done
same=$(cmp -s "$work/pipe.stl" "$work/file.stl" && echo "same bytes" || echo "BYTES DIFFER")
for statistic in median fastest; do
  m1=$($statistic <<<"${pipe# }") m2=$($statistic <<<"${file# }")
  printf 'one torus, %s of %d: pipe %.3f s, file to file %.3f s, ratio %.3f, %s\n' "$statistic" \
    $((3 * rounds)) "$m1" "$m2" "$(echo "$m1 / $m2" | bc -l)" "$same"
done
echo "load after: $(uptime)"

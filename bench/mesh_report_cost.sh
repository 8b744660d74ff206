#!/usr/bin/env bash
# What the mesh report of the input and of the refined mesh costs, against
# the whole CLI run on the same file (one iteration, the default output):
#
#   bench/mesh_report_cost.sh [BUILD_DIR] [FILE] [ROUNDS]
#
# CPU time (perf stat's task-clock), so that a busy machine's waiting counts
# in neither. Each round runs the CLI once and mesh_report_file twice, without
# and with ten extra reports of both meshes; their difference over ten is the
# cost of one pair. Medians and least values over the rounds. FILE defaults to the 49k-vertex
# torus of gen_meshes.py.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-bench}
FILE=${2:-$HOME/.cache/stlbench/meshes/torus_50k.stl}
ROUNDS=${3:-9}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" -j2 --target mesh_report_file stlrefine_cli >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
cpu() { perf stat -x, -e task-clock "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ {print $1}'; }
for _ in $(seq "$ROUNDS"); do
  echo "$(cpu "$BUILD/stlrefine" "$FILE" "$out") $(cpu "$BUILD/bench/mesh_report_file" -n 1 "$FILE")" \
       "$(cpu "$BUILD/bench/mesh_report_file" -n 1 --time 10 "$FILE")"
done | python3 -c '
import statistics, sys
rows = [[float(x) for x in line.split()] for line in sys.stdin]
for name, pick in (("median", statistics.median), ("least", min)):
    cli = pick(r[0] for r in rows)
    pair = pick((r[2] - r[1]) / 10 for r in rows)
    print("%-6s CLI run %.1f ms CPU, reports of input and refined mesh %.1f ms: %.1f%% of the run" % (name, cli, pair, 100 * pair / cli))'

#!/usr/bin/env bash
# Builds the bench preset, runs every benchmark 5 times and prints one table
# from the medians: our figure, the floor's or peer's from the same run, their
# ratio and the target.
#   bench/run.sh [extra Google Benchmark options]
# The benchmark archives are made on the first run and kept in
# build/bench/bench/archives/ (about 1.2 GB). Figures move from run to run on
# a shared machine; compare ratios, not times.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench --target reader_bench >/dev/null

out=build/bench/results.json
build/bench/bin/reader_bench --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_min_time=0.5 --benchmark_repetitions=5 "$@" >/dev/null
python3 bench/report.py "$out"

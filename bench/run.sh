#!/usr/bin/env bash
# Builds the bench preset (and the wasm build for the JavaScript figures),
# runs every benchmark 5 times, then the Python and JavaScript loops over the
# same archive, the explorer page in headless Chromium and remote reads from a
# loopback server 40 ms away 5 times each, and
# prints one table from the medians: our figure, the floor's or peer's from
# the same run, their ratio and the target.
#   bench/run.sh [extra Google Benchmark options]
# The benchmark archives are made on the first run and kept in
# build/bench/bench/archives/ (about 1.2 GB). Figures move from run to run on
# a shared machine; compare ratios, not times.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench --target reader_bench brackwater_dat_python brackwater_dat_cli \
  remote_archive >/dev/null
cmake --preset wasm >/dev/null
cmake --build --preset wasm >/dev/null

out=build/bench/results.json
build/bench/bin/reader_bench --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_min_time=0.5 --benchmark_repetitions=5 "$@" >/dev/null
archives=build/bench/bench/archives
PYTHONPATH=build/bench/python python3 bench/python_bench.py "$archives/realistic-100000.dat" \
  build/bench/python.json
node bench/javascript_bench.mjs build/wasm/js "$archives/realistic-100000.dat" \
  "$archives/sparse-3.9G.dat" build/bench/javascript.json
# The page's own archive: 100,000 files and the sound tables, made by the wasm build.
node bench/page_bench.mjs build/wasm/js build/wasm/native/realistic-100000.dat \
  "$(command -v chromium)" build/bench/page.json
# Remote reads of 19,950 files from a loopback server 40 ms away.
node bench/remote_bench.mjs build/wasm/js "$archives/remote-19950.dat" "$(command -v chromium)" \
  build/bench/remote.json "$archives/contiguous-19950.dat"
# The tool over a URL 40 ms away, against the same commands on the file.
python3 bench/remote_tool_bench.py build/bench/bin/brackwater-dat "$archives/remote-19950.dat" \
  build/bench/remote_tool.json
python3 bench/report.py "$out" build/bench/python.json build/bench/javascript.json \
  build/bench/page.json build/bench/remote.json

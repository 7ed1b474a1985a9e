#!/usr/bin/env bash
# Runs one fuzz target for a while:  fuzz/run.sh TARGET SECONDS [libFuzzer options...]
# TARGET is lrs, lrs_round_trip, lrs_encoder, sound_table, dat_database or tool_response. The committed
# seeds in fuzz/corpus/TARGET start a working corpus in build/fuzz/corpus/TARGET;
# inputs that break the target land in build/fuzz/artifacts/TARGET/ (commit
# them to fuzz/corpus/TARGET once fixed, so every build replays them).
# The fuzz preset builds with clang-19 against g++ 12's standard library, whose
# stable_sort calls a function that library marks deprecated: that preset does
# not make deprecation warnings errors (the g++ builds still do).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -lt 2 ]]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

mkdir -p build
# Several runs may start at once; one configures and builds at a time.
(
  flock 9
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target "fuzz_${target}" >/dev/null
) 9>build/fuzz.lock

work="build/fuzz/corpus/${target}"
artifacts="build/fuzz/artifacts/${target}/"
mkdir -p "$work" "$artifacts"
max_len=4096
[[ $target == dat_database ]] && max_len=65536

exec "build/fuzz/bin/fuzz_${target}" "$work" "fuzz/corpus/${target}" \
  -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$artifacts" -print_final_stats=1 "$@"

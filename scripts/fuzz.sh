#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan+UBSan and runs each for N seconds.
#   scripts/fuzz.sh [seconds] [target]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
secs="${1:-20}"; only="${2:-}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVKL_SANITIZE=address -DVKL_FUZZ=ON -DVKL_TESTS=OFF -DVKL_BENCH=OFF -DVKL_WERROR="${VKL_WERROR:-OFF}" >/dev/null
cmake --build build-fuzz -j2
shopt -s nullglob
for bin in build-fuzz/fuzz/fuzz_*; do
  name="${bin##*/fuzz_}"
  [ -n "$only" ] && [ "$only" != "$name" ] && continue
  corpus="build-fuzz/corpus/$name"; mkdir -p "$corpus"
  seeds=(); [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
  echo "fuzz: $name for ${secs}s"
  "$bin" -max_total_time="$secs" -max_len=65536 -rss_limit_mb=2048 -timeout=10 -artifact_prefix=build-fuzz/ \
    -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 | tail -n 4
  test "${PIPESTATUS[0]}" -eq 0
done

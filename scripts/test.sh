#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh asan       ASan+UBSan build in build-asan/
#   scripts/test.sh tsan       TSan build in build-tsan/
# VKL_WERROR=ON turns compiler warnings into errors (CI sets it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mode="${1:-normal}"
case "$mode" in
  normal) dir=build;      opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)   dir=build-asan; opts=(-DCMAKE_BUILD_TYPE=Debug -DVKL_SANITIZE=address) ;;
  tsan)   dir=build-tsan; opts=(-DCMAKE_BUILD_TYPE=Debug -DVKL_SANITIZE=thread) ;;
  *) echo "usage: $0 [normal|asan|tsan]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${opts[@]}" -DVKL_WERROR="${VKL_WERROR:-OFF}" >/dev/null
cmake --build "$dir" -j2
cd "$dir" && ctest --output-on-failure -j2 --timeout 600

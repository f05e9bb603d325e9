#!/usr/bin/env bash
# Sets up, builds and runs the main job: `vkl demo` on the bundled defaults.
#   scripts/demo.sh [extra vkl demo arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vkl
./build/tools/vkl/vkl --home build/vkl-home demo --dir build/vkl-demo "$@"

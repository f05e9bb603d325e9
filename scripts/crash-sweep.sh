#!/usr/bin/env bash
# The full crash sweep: vkl is killed at every write system call while it records (plain,
# rolling over, cutting at asserts), appends, describes and repairs; after each kill the
# files are repaired and checked (no whole record lost, none invented, a sound file).
# CI runs a sample of the kill points as part of the test suite; this runs them all.
#   scripts/crash-sweep.sh [build-dir]      (default: build; it must hold a built suite)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
shim="$build/tests/libvkl_syscall_shim.so"
test -x "$build/tests/test_tools" && test -f "$shim" || { echo "crash-sweep: build the suite in $build first" >&2; exit 2; }
VKL_CRASH_SWEEP=full "$build/tests/test_tools" --gtest_filter='CrashTest.*' | grep -E '^crash sweep:|FAILED|Failure|OK \]'

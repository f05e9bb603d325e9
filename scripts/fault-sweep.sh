#!/usr/bin/env bash
# Fault sweep: measures how many deliberate faults the test suite catches.
#
# Every fault in scripts/faults/faults.txt is a sed script applied to one library or vkl
# source file (never a test). For each fault the sweep copies the working tree into a
# scratch tree (build-faults/src, or $FAULT_SWEEP_DIR/src), applies the fault there,
# builds incrementally in one reused build directory (so a fault recompiles only its own
# file, plus the file of the fault before it going back to normal; programs that load
# libLogger.so are not relinked when only the library changed), runs ctest with a
# per-test time limit (a hang counts as caught), records caught or missed, and puts the
# file back. The working tree itself is never modified.
#
#   scripts/fault-sweep.sh              every fault
#   scripts/fault-sweep.sh ID...        only these faults (IDs as in the table)
#   scripts/fault-sweep.sh --list       the table's IDs, files and descriptions
#   scripts/fault-sweep.sh --show [ID...]  the change each fault makes (a diff), nothing built
#
# Environment: FAULT_SWEEP_DIR (scratch directory), FAULT_TIMEOUT (seconds per test,
# default 120), JOBS (build jobs, default 2).
# The last line printed is "N of M faults caught"; the exit status is 0 only when every
# fault was caught (a fault whose script no longer applies, or that does not build,
# counts as not caught and is reported as such).
set -uo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
table="$repo/scripts/faults/faults.txt"
scratch="${FAULT_SWEEP_DIR:-$repo/build-faults}"
src="$scratch/src"
build="$scratch/build"
timeout="${FAULT_TIMEOUT:-120}"
jobs="${JOBS:-2}"
log="$scratch/logs"

# The table: "ID FILE SED-SCRIPT", one fault a line; '#' starts a comment line, and the
# comment line right above a fault describes it.
declare -a ids files scripts descs
desc=""
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    '#'*) desc="${line#\#}"; desc="${desc# }"; continue ;;
    '') desc=""; continue ;;
  esac
  read -r id file script <<<"$line"
  ids+=("$id"); files+=("$file"); scripts+=("$script"); descs+=("$desc")
  desc=""
done <"$table"

if [ "${1:-}" = "--list" ]; then
  for i in "${!ids[@]}"; do printf '%-28s %-32s %s\n' "${ids[$i]}" "${files[$i]}" "${descs[$i]}"; done
  exit 0
fi

show=""
if [ "${1:-}" = "--show" ]; then show=1; shift; fi

selected=()
if [ $# -gt 0 ]; then
  for want in "$@"; do
    found=""
    for i in "${!ids[@]}"; do [ "${ids[$i]}" = "$want" ] && found="$i"; done
    [ -z "$found" ] && { echo "fault-sweep: no fault '$want' in $table" >&2; exit 2; }
    selected+=("$found")
  done
else
  selected=("${!ids[@]}")
fi

if [ -n "$show" ]; then
  for i in "${selected[@]}"; do
    echo "== ${ids[$i]}: ${descs[$i]}"
    sed -e "${scripts[$i]}" "$repo/${files[$i]}" | diff -u --label "a/${files[$i]}" --label "b/${files[$i]}" "$repo/${files[$i]}" - | tail -n +3
    [ "${PIPESTATUS[1]}" = 0 ] && echo "   (changes nothing)"
  done
  exit 0
fi

# Brings the scratch tree to the working tree's content. A file whose content differs
# is copied without its time stamp, so the build sees it as newer than its objects.
sync_tree() {
  mkdir -p "$src"
  local list; list="$(mktemp)"
  (cd "$repo" && git ls-files -co --exclude-standard -z) >"$list"
  while IFS= read -r -d '' f; do
    [ -f "$repo/$f" ] || continue
    if ! cmp -s "$repo/$f" "$src/$f"; then
      mkdir -p "$(dirname "$src/$f")"
      cp "$repo/$f" "$src/$f"
    fi
  done <"$list"
  # Files the working tree no longer has.
  (cd "$src" && find . -type f -printf '%P\0') | while IFS= read -r -d '' f; do
    grep -qzxF -- "$f" "$list" || rm -f "$src/$f"
  done
  rm -f "$list"
}

build_tree() {
  cmake --build "$build" -j"$jobs" >"$1" 2>&1
}

# Runs the suite; prints the names of the failing tests (empty when all pass).
run_tests() {
  local out="$1"
  (cd "$build" && ctest -j"$jobs" --timeout "$timeout" --output-on-failure) >"$out" 2>&1
  local rc=$?
  if [ $rc -ne 0 ]; then
    local failed
    failed="$(sed -n '/The following tests FAILED/,$p' "$out" | grep -oE '^[[:space:]]*[0-9]+ - [^ ]+( \([A-Za-z]+\))?' |
              sed -E 's/^[[:space:]]*[0-9]+ - //' | tr '\n' ',' | sed 's/,$//')"
    echo "${failed:-ctest failed}"
  fi
}

mkdir -p "$scratch" "$log"
echo "fault-sweep: scratch tree $src"
sync_tree
generator=()
[ -f "$build/CMakeCache.txt" ] || { command -v ninja >/dev/null && generator=(-G Ninja); }
if ! cmake -S "$src" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVKL_BENCH=OFF \
     -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >"$log/configure.log" 2>&1; then
  echo "fault-sweep: configure failed, see $log/configure.log" >&2; exit 2
fi
echo "fault-sweep: building the unchanged tree"
build_tree "$log/baseline-build.log" || { echo "fault-sweep: the unchanged tree does not build, see $log/baseline-build.log" >&2; exit 2; }
base="$(run_tests "$log/baseline-test.log")"
if [ -n "$base" ]; then
  echo "fault-sweep: the unchanged tree fails tests ($base), see $log/baseline-test.log" >&2; exit 2
fi

caught=0
total=0
# One line per fault: ID, result, and the failing test cases (for finding which cases
# catch a fault).
summary="$log/summary.txt"
: >"$summary"
printf '\n%-4s %-28s %-30s %-8s %s\n' "#" "fault" "file" "result" "failing tests"
for i in "${selected[@]}"; do
  id="${ids[$i]}"; file="${files[$i]}"; script="${scripts[$i]}"
  total=$((total + 1))
  result=""; detail=""; cases=""
  case "$file" in tests/*) result="INVALID"; detail="faults go into library or vkl sources only" ;; esac
  if [ -z "$result" ] && [ ! -f "$src/$file" ]; then result="INVALID"; detail="no such file"; fi
  if [ -z "$result" ]; then
    sed -e "$script" "$repo/$file" >"$src/$file.fault" 2>"$log/$id.sed" || { result="INVALID"; detail="sed: $(head -1 "$log/$id.sed")"; }
    if [ -z "$result" ] && cmp -s "$repo/$file" "$src/$file.fault"; then result="INVALID"; detail="the script changes nothing"; fi
    if [ -z "$result" ]; then
      mv "$src/$file.fault" "$src/$file"
      if ! build_tree "$log/$id.build.log"; then
        result="BROKEN"; detail="does not build, see $log/$id.build.log"
      else
        failed="$(run_tests "$log/$id.test.log")"
        if [ -n "$failed" ]; then result="caught"; detail="$failed"; caught=$((caught + 1)); else result="MISSED"; fi
        cases="$(grep -oE '^\[  FAILED  \] [A-Za-z_][A-Za-z0-9_]*\.[A-Za-z0-9_/]+' "$log/$id.test.log" | cut -c14- | sort -u | tr '\n' ' ')"
      fi
    fi
    rm -f "$src/$file.fault"
    # Back to the working tree's content, with a fresh time stamp.
    cp "$repo/$file" "$src/$file"
  fi
  printf '%-4s %-28s %-30s %-8s %s\n' "$((total))" "$id" "$file" "$result" "$detail"
  printf '%s %s %s\n' "$id" "$result" "$cases" >>"$summary"
done
# Leave the scratch build matching the tree.
build_tree "$log/final-build.log" || true
echo
echo "failing test cases per fault: $summary"
echo "$caught of $total faults caught"
[ "$caught" -eq "$total" ]

#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer and the address and undefined sanitizers in
# build-fuzz, then runs each over a scratch copy of its corpus (the tree's corpus is only
# read). FUZZ_RUNS runs per target, or FUZZ_SECONDS each when set; FUZZ_TARGETS picks some.
# Exits non-zero when any target crashed, leaked or timed out; the inputs that did are in
# build-fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
runs=${FUZZ_RUNS:-2000000}
seconds=${FUZZ_SECONDS:-}
jobs=${JOBS:-$(nproc)}
# Each target with the longest input its format needs: one IDENTIFY block; flags, a row and
# four sectors; a hundred status readings; a text file; a command line.
declare -A max_len=([identify]=512 [chip]=2050 [rebuild_status]=1400 [sim_files]=4096 [cli_args]=512)
targets=(${FUZZ_TARGETS:-identify chip rebuild_status sim_files cli_args})

# A build of its own, not a sub-make of the caller's.
unset MAKEFLAGS MFLAGS MAKELEVEL
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$build" -DOVRAID_FUZZ=ON -DOVRAID_BUILD_GUI=OFF -DOVRAID_BUILD_TESTS=OFF \
  -DOVRAID_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

# A small quarantine and short allocation stacks keep the targets fast; a crash is looked
# at again by running its input, with the full report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=2}
mkdir -p "$build/artifacts"
failed=()
for t in "${targets[@]}"; do
  scratch="$build/corpus/$t"
  mkdir -p "$scratch"
  cp fuzz/corpus/"$t"/* "$scratch"/
  limit=(-runs="$runs")
  [ -n "$seconds" ] && limit=(-max_total_time="$seconds")
  log="$build/artifacts/$t.log"
  start=$(date +%s)
  if "$build/fuzz/fuzz_$t" "${limit[@]}" -max_len="${max_len[$t]}" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$scratch" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    failed+=("$t")
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf '%-15s %-6s %12s runs %6ss %8s exec/s corpus %s\n' "$t" "$result" "${execs:-?}" \
    "$(($(date +%s) - start))" "${rate:-?}" "$(find "$scratch" -type f | wc -l)"
  if [ "$result" != ok ]; then
    grep -E 'ERROR|SUMMARY|check failed|runtime error' "$log" | head -20 || true
    echo "  log: $log"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/artifacts; see docs/fuzzing.md)"
  exit 1
fi

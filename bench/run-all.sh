#!/usr/bin/env bash
# Every benchmark of the project in one table: the footprint measures (bench/footprint.sh) on
# every target, then each Google Benchmark program of the native build.
#
# Convention for benchmark programs: a Google Benchmark executable whose target is named bench_*
# and that lands in <build>/bench/ (the default for add_executable in bench/CMakeLists.txt) is
# run with --benchmark_format=json; each benchmark becomes one row with its real time, and its
# user counters (e.g. a nominal time to compare with) are listed beside it.
#
# Usage: bench/run-all.sh [--no-build]
#   Without --no-build it first brings build/ (native, with benchmarks) and build-armhf/ (ARM)
#   up to date, configured as scripts/test.sh and scripts/test-armhf.sh configure them.
set -euo pipefail
cd "$(dirname "$0")/.."

native=build
arm=build-armhf
if [[ "${1:-}" != "--no-build" ]]; then
  jobs=$(nproc)
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$native" -j "$jobs" >/dev/null
  cmake -S . -B "$arm" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake >/dev/null
  cmake --build "$arm" -j "$jobs" >/dev/null
fi

rows=$(mktemp)
report=$(mktemp)
trap 'rm -f "$rows" "$report"' EXIT

bench/footprint.sh --tsv "$native" "$arm" >>"$rows"

target="$(uname -m) ($(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$native/CMakeCache.txt" 2>/dev/null))"
found=0
for program in "$native"/bench/bench_*; do
  [[ -f "$program" && -x "$program" ]] || continue
  found=1
  name=$(basename "$program")
  status=0
  "$program" --benchmark_format=json >"$report" 2>/dev/null || status=$?
  if ((status != 0)); then
    printf '%s\t%s\t%s\t-\t%s\n' "$name" "$target" "failed (exit status $status)" "MISSED" \
      >>"$rows"
    continue
  fi
  cmake -DJSON="$report" -DPROGRAM="$name" -DTARGET="$target" -DOUTPUT="$rows" \
    -P bench/benchmark_rows.cmake
done
if ((found == 0)); then
  printf '%s\t%s\t%s\t-\t%s\n' "benchmark programs" "$target" "none in $native/bench" "skipped" \
    >>"$rows"
fi

{ printf 'measure\ttarget\tvalue\tgoal\tverdict / counters\n'; cat "$rows"; } |
  awk -F '\t' -f bench/table.awk

#!/usr/bin/env bash
# Footprint of what ships, on every target that has been built:
#   - stripped size of libfusekit.so.1 and fuseupdate (a copy stripped with the target's strip);
#   - the shared libraries each needs at run time (readelf -d, NEEDED), which must not include
#     the C++ runtime library;
#   - the peak memory (maximum resident set) of fuseupdate during one complete update.
# Goals: no C++ runtime library at run time; each binary under 64 KiB stripped on ARM; peak
# memory of fuseupdate under 2 MiB.
#
# Usage: bench/footprint.sh [--tsv] [BUILD_DIR...]
#   BUILD_DIRs default to build (native, as scripts/test.sh makes it) and build-armhf (as
#   scripts/test-armhf.sh makes it); a directory that does not exist is reported and skipped.
#   --tsv prints tab-separated rows "measure, target, value, goal, verdict" for bench/run-all.sh.
#
# Peak memory needs a complete update against the simulated device. This script hands that to a
# runner, FUSEKIT_UPDATE_RUNNER (default scripts/run-simulated-update.sh), called as
#     RUNNER BUILD_DIR LAUNCHER...
# which must set up the simulated device and a fuse file, run `LAUNCHER... <fuseupdate>` from
# BUILD_DIR once, and exit with fuseupdate's exit status. The launcher (bench/peak-rss.sh)
# measures the program's own process. It is run twice: against the simulated device (whose
# library brings the C++ runtime into the process) and with the board I2C library, where the
# update stops at the device check after reading the whole fuse file. It is measured on the build machine's own target only: under the emulator the
# resident set would be the emulator's. To add a measure, add a function like measure_binary and
# call it from the loop at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

tsv=0
if [[ "${1:-}" == "--tsv" ]]; then
  tsv=1
  shift
fi
build_dirs=("$@")
[[ ${#build_dirs[@]} -gt 0 ]] || build_dirs=(build build-armhf)
runner=${FUSEKIT_UPDATE_RUNNER:-scripts/run-simulated-update.sh}

readonly size_goal_bytes=$((64 * 1024))
readonly memory_goal_kib=$((2 * 1024))

rows=()
row() {  # measure target value goal verdict
  rows+=("$1"$'\t'"$2"$'\t'"$3"$'\t'"$4"$'\t'"$5")
}

cache_value() {  # build_dir variable
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

target_of() {  # build_dir -> processor the build is for
  local system
  system=$(ls "$1"/CMakeFiles/*/CMakeSystem.cmake 2>/dev/null | head -n 1)
  [[ -n "$system" ]] && sed -n 's/^set(CMAKE_SYSTEM_PROCESSOR "\(.*\)")$/\1/p' "$system"
}

find_binary() {  # build_dir file_name -> path of the built file, if any
  find "$1" -name CMakeFiles -prune -o -name "$2" \( -type f -o -type l \) -print 2>/dev/null |
    head -n 1
}

kib() {  # bytes -> "N bytes (N.N KiB)"
  awk -v b="$1" 'BEGIN { printf "%d bytes (%.1f KiB)", b, b / 1024 }'
}

measure_binary() {  # build_dir target strip readelf file_name
  local dir=$1 target=$2 strip=$3 readelf=$4 name=$5 path goal="(goal on ARM)"
  [[ "$target" == arm* ]] && goal="< 64 KiB"
  path=$(find_binary "$dir" "$name")
  if [[ -z "$path" ]]; then
    row "$name stripped size" "$target" "not built in $dir" "$goal" "skipped"
    return
  fi
  local copy size verdict="-"
  copy=$(mktemp)
  "$strip" -o "$copy" "$path"
  size=$(stat -c %s "$copy")
  rm -f "$copy"
  if [[ "$target" == arm* ]]; then
    if ((size < size_goal_bytes)); then verdict=met; else verdict=MISSED; fi
  fi
  row "$name stripped size" "$target" "$(kib "$size")" "$goal" "$verdict"

  local needed
  needed=$("$readelf" -d "$path" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd ' ')
  if grep -Eq '(^| )lib(std)?c\+\+' <<<"$needed"; then verdict=MISSED; else verdict=met; fi
  row "$name needs at run time" "$target" "${needed:-nothing}" "no C++ runtime" "$verdict"
}

measure_peak_memory() {  # build_dir target processor
  local dir=$1 target=$2 processor=$3 measure="fuseupdate peak memory (max RSS)"
  if [[ "$processor" != "$(uname -m)" ]]; then
    row "$measure" "$target" "not measured under the emulator" "< 2 MiB" "skipped"
    return
  fi
  if [[ -z "$(find_binary "$dir" fuseupdate)" ]]; then
    row "$measure" "$target" "fuseupdate not built in $dir" "< 2 MiB" "skipped"
    return
  fi
  if [[ ! -x "$runner" ]]; then
    row "$measure" "$target" "no update runner $runner" "< 2 MiB" "skipped"
    return
  fi
  peak_row "$measure, simulated device" "$target" "$dir" sim 0
  peak_row "$measure, board I2C library (stops at the device check)" "$target" "$dir" board 6
}

# One peak-memory row: the update program's own process (not the shells it starts), with the
# given I2C library, expecting the given exit status.
peak_row() {  # measure target build_dir i2c expected_status
  local report status=0 peak verdict
  report=$(mktemp)
  FUSEKIT_UPDATE_I2C=$4 "$runner" "$3" bench/peak-rss.sh "$report" >/dev/null 2>&1 || status=$?
  peak=$(tail -n 1 "$report")
  rm -f "$report"
  if [[ $status -ne $5 || ! "$peak" =~ ^[0-9]+$ ]]; then
    row "$1" "$2" "update failed (exit status $status)" "< 2 MiB" "MISSED"
    return
  fi
  if ((peak < memory_goal_kib)); then verdict=met; else verdict=MISSED; fi
  row "$1" "$2" "$peak KiB" "< 2 MiB" "$verdict"
}

for dir in "${build_dirs[@]}"; do
  if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    row "build $dir" "-" "not configured" "-" "skipped"
    continue
  fi
  processor=$(target_of "$dir")
  target="${processor:-unknown} ($(cache_value "$dir" CMAKE_BUILD_TYPE))"
  strip=$(cache_value "$dir" CMAKE_STRIP)
  readelf=$(cache_value "$dir" CMAKE_READELF)
  measure_binary "$dir" "$target" "$strip" "$readelf" libfusekit.so.1
  measure_binary "$dir" "$target" "$strip" "$readelf" fuseupdate
  measure_peak_memory "$dir" "$target" "$processor"
done

if ((tsv)); then
  printf '%s\n' "${rows[@]}"
else
  { printf 'measure\ttarget\tvalue\tgoal\tverdict\n'; printf '%s\n' "${rows[@]}"; } |
    awk -F '\t' -f bench/table.awk
fi

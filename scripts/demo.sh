#!/usr/bin/env bash
# The demo: a complete update of the simulated device by the real fuseupdate program.
#
#   scripts/demo.sh [--fault FAULT] [--device-id ID] [--keep]
#
# It installs what is missing (as root), builds the program, the simulated device and the fuse
# file writer, writes a sample fuse file, and runs fuseupdate against the simulated device in a
# private mount namespace whose /var and /conf are scratch folders (nothing of the machine's own
# /var or /conf is touched). While it runs, a progress bar shows the progress file as other
# software on the board sees it; afterwards the status and result files, and whether the device
# now holds the image.
#
#   --fault FAULT      inject faults into the simulated device, e.g. corrupt-cf=100 (a row that
#                     reads back wrong: verification fails, the clean-up runs), refresh-never,
#                     done-never, fail-transfer=5000; see sim/README.md for every fault
#   --device-id ID    the ID the simulated device reports (default 0x012BB043)
#   --keep            keep the scratch folder and print its path
#
# Exits with fuseupdate's exit status.
set -euo pipefail
cd "$(dirname "$0")/.."

faults=""
device_id=""
keep=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --fault) faults="${faults:+$faults,}${2:?--fault needs a FAULT}"; shift 2 ;;
    --device-id) device_id="${2:?--device-id needs an ID}"; shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh >&2

build=build-demo
echo "== building fuseupdate, the simulated device and the fuse file writer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFUSEKIT_TESTS=OFF \
  -DFUSEKIT_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target fuseupdate boardi2c_sim fusekit-make-jed fusekit-sim >/dev/null

scratch=$(mktemp -d /tmp/fusekit-demo.XXXXXX)
cleanup() { [[ $keep -eq 1 ]] && echo "scratch folder kept: $scratch" || rm -rf "$scratch"; }
trap cleanup EXIT
mkdir -p "$scratch/var" "$scratch/conf"

echo "== writing a sample fuse file (3838 rows, FEABITS 0x0000) as /var/cpld.jed"
"$build/tools/jed_writer/fusekit-make-jed" --seed 2026 --feabits 0 --usercode 0x20261211 \
  --image "$scratch/image.bin" "$scratch/var/cpld.jed"
echo "   $(wc -c <"$scratch/var/cpld.jed") bytes, USERCODE 0x20261211"

settings=("FUSEKIT_SIM_STATE=$scratch/device.state" "LD_LIBRARY_PATH=$PWD/$build/sim/dropin")
[[ -n "$faults" ]] && settings+=("FUSEKIT_SIM_FAULTS=$faults")
[[ -n "$device_id" ]] && settings+=("FUSEKIT_SIM_DEVICE_ID=$device_id")
echo "== running fuseupdate against the simulated device${faults:+ (faults: $faults)}"

scripts/isolated-run.sh "$scratch" /usr/bin/env "${settings[@]}" "$PWD/$build/updater/fuseupdate" \
  >"$scratch/stdout" 2>"$scratch/stderr" &
pid=$!

# The progress file as a watcher on the board sees it.
bar() {
  local value=$1 width=40 filled
  filled=$((value * width / 100))
  printf '\r   progress [%-*s] %3d%%' "$width" "$(printf '%*s' "$filled" '' | tr ' ' '#')" "$value"
}
last=-1
while kill -0 "$pid" 2>/dev/null; do
  value=$(cat "$scratch/var/i2c_cpld_update_progress" 2>/dev/null || true)
  if [[ "$value" =~ ^[0-9]+$ && "$value" -ne "$last" ]]; then
    if [[ -t 1 ]]; then
      bar "$value"
    elif [[ $((value / 10)) -ne $((last / 10)) || $last -lt 0 ]]; then
      echo "   progress $value%"  # not a terminal: a line every ten percent
    fi
    last=$value
  fi
  sleep 0.05
done
status=0
wait "$pid" || status=$?
[[ -t 1 && $last -ge 0 ]] && echo

if [[ $status -eq 77 ]]; then
  cat "$scratch/stderr" >&2
  echo "demo: this machine allows no private mount namespace; run as root" >&2
  exit 77
fi

echo "== fuseupdate's standard output"
sed 's/^/   | /' "$scratch/stdout"
diagnostics=$(wc -l <"$scratch/stderr")
if [[ $diagnostics -gt 0 ]]; then
  if [[ $diagnostics -gt 8 ]]; then
    echo "== its diagnostics (standard error, the last 8 of $diagnostics lines)"
  else
    echo "== its diagnostics (standard error)"
  fi
  tail -n 8 "$scratch/stderr" | sed 's/^/   | /'
fi

show() {  # label path
  if [[ -e "$2" ]]; then
    printf '   %-30s %s\n' "$1" "$(sed -n 'H; ${x; s/\n/\\n/g; s/^\\n//; p}' "$2")"
  else
    printf '   %-30s %s\n' "$1" "(absent)"
  fi
}
echo "== what the board's other software sees"
show "/var/bp_cpld_upgrade" "$scratch/var/bp_cpld_upgrade"
show "/conf/i2c_cpld_update_status" "$scratch/conf/i2c_cpld_update_status"
show "/var/i2c_cpld_update_progress" "$scratch/var/i2c_cpld_update_progress"
show "/conf/cpld_update_result" "$scratch/conf/cpld_update_result"

echo "== the simulated device"
if "$build/sim/fusekit-sim" compare "$scratch/device.state" "$scratch/image.bin" \
    >"$scratch/compare" 2>&1; then
  echo "   holds the image of the fuse file, DONE programmed"
else
  sed 's/^/   /' "$scratch/compare"
fi
echo "== fuseupdate exit status: $status"
exit "$status"

#!/usr/bin/env bash
# One complete update of the simulated device by BUILD_DIR's fuseupdate, started through
# LAUNCHER (for example a measuring tool), in a private mount namespace whose /var and /conf are
# scratch folders. Uses the real clock. Exits with fuseupdate's exit status.
#
#   scripts/run-simulated-update.sh BUILD_DIR [LAUNCHER...]
#
# BUILD_DIR must hold fuseupdate, the simulated device's drop-in library and the fuse file
# writer (targets fuseupdate, boardi2c_sim, fusekit-make-jed).
#
# With FUSEKIT_UPDATE_I2C=board the program loads the board I2C library built in BUILD_DIR in
# place of the simulated device: with no bus there, the update reads the whole fuse file and stops
# at the device check (exit status 6). That measures the program without the simulator's own
# memory.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:?usage: run-simulated-update.sh BUILD_DIR [LAUNCHER...]}")
shift
i2c_dir="$build/sim/dropin"
[[ "${FUSEKIT_UPDATE_I2C:-sim}" == board ]] && i2c_dir="$build/platform/i2c"

scratch=$(mktemp -d /tmp/fusekit-update.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/var" "$scratch/conf"
"$build/tools/jed_writer/fusekit-make-jed" --seed 7 --feabits 0 "$scratch/var/cpld.jed"

scripts/isolated-run.sh "$scratch" "$@" /usr/bin/env \
  "FUSEKIT_SIM_STATE=$scratch/device.state" "LD_LIBRARY_PATH=$i2c_dir" \
  "$build/updater/fuseupdate"

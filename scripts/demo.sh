#!/usr/bin/env bash
# Runs an update against the simulated device.
set -euo pipefail
echo "demo: the simulated device and the update program are not built yet; nothing to run" >&2
exit 1

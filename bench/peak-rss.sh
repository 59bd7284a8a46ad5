#!/usr/bin/env bash
# Runs COMMAND and writes the peak resident set (VmHWM, KiB) of its own process to REPORT, not
# counting the programs it starts (the update program's status commands run in a shell).
#
#   bench/peak-rss.sh REPORT COMMAND [ARG...]
#
# COMMAND may exec another program (env, for example): the process is followed, not the name.
set -uo pipefail
report=${1:?usage: peak-rss.sh REPORT COMMAND [ARG...]}
shift
"$@" &
pid=$!
peak=""
while kill -0 "$pid" 2>/dev/null; do
  value=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status" 2>/dev/null)
  [[ -n "$value" ]] && peak=$value
  sleep 0.005
done
wait "$pid"
status=$?
echo "$peak" >"$report"
exit "$status"

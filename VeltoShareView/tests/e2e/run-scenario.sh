#!/usr/bin/env bash
# One end-to-end scenario of the share view on an X server of its own.
# usage: run-scenario.sh SHARE_VIEW STANDIN SCENARIO plain|openbox|picom|wide [SCREENSHOT_DIR]
set -euo pipefail
share_view=$1 standin=$2 scenario=$3 session=$4 shots=${5:-}
source "$(dirname "$0")/x-session.sh"
start_x_session "$session"

args=(--share-view "$share_view" --scenario "$scenario" --verify --x-server-pid "${x_pids[0]}")
if [ -n "$shots" ]; then
  mkdir -p "$shots"
  args+=(--screenshot "$shots/$scenario-$session.png")
fi
if ! "$standin" "${args[@]}"; then
  x_logs
  exit 1
fi

#!/usr/bin/env bash
# The exclusion probe on an X server of its own under one kind of window
# manager: the matrix of private windows, or the random storm.
# usage: run-exclusion.sh SHARE_VIEW PROBE matrix|storm plain|openbox|picom [SCREENSHOT_DIR]
set -euo pipefail
share_view=$1 probe=$2 mode=$3 session=$4 shots=${5:-}
source "$(dirname "$0")/x-session.sh"
start_x_session "$session"

args=(--share-view "$share_view" --mode "$mode" --session "$session")
if [ -n "$shots" ]; then
  mkdir -p "$shots"
  args+=(--screenshots "$shots")
fi
if ! "$probe" "${args[@]}"; then
  x_logs
  exit 1
fi

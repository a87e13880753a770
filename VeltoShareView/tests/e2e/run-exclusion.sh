#!/usr/bin/env bash
# The exclusion probe on an X server of its own under one kind of window
# manager: the matrix of private windows, the random storm, or programs that
# paint their own windows late or never (paint).
# usage: run-exclusion.sh SHARE_VIEW PROBE matrix|storm|paint SESSION [SCREENSHOT_DIR]
#   SESSION: one of x-session.sh's (plain, openbox, picom, xfwm4, i3, i3tiled,
#   fluxbox, mutter, kwin)
set -euo pipefail
share_view=$1 probe=$2 mode=$3 session=$4 shots=${5:-}
source "$(dirname "$0")/x-session.sh"
start_x_session "$session"

args=(--share-view "$share_view" --mode "$mode" --session "$session")
[ "$session" = i3tiled ] && args+=(--tiling yes)
if [ -n "$shots" ]; then
  mkdir -p "$shots"
  args+=(--screenshots "$shots")
fi
if ! "$probe" "${args[@]}"; then
  x_logs
  exit 1
fi

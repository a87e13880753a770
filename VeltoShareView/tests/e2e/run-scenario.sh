#!/usr/bin/env bash
# One end-to-end scenario of the share view on an X server of its own.
# usage: run-scenario.sh SHARE_VIEW STANDIN SCENARIO plain|openbox|wide [SCREENSHOT_DIR]
#   plain: no window manager; openbox: a reparenting one; wide: a 3840-pixel
#   screen, which the capture scales down in the server.
set -euo pipefail
share_view=$1 standin=$2 scenario=$3 session=$4 shots=${5:-}

work=$(mktemp -d)
pids=()
cleanup() {
  # Clients first, the X server last.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number, chosen by the server itself once it is ready.
mkfifo "$work/display"
size=1920x1080
[ "$session" = wide ] && size=3840x1080
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${size}x24" 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
number=""
read -r -t 20 number <"$work/display" || true
[ -n "$number" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$number"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE

if [ "$session" = openbox ]; then
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
fi

args=(--share-view "$share_view" --scenario "$scenario" --verify --x-server-pid "${pids[0]}")
if [ -n "$shots" ]; then
  mkdir -p "$shots"
  args+=(--screenshot "$shots/$scenario-$session.png")
fi
if ! "$standin" "${args[@]}"; then
  echo "--- Xvfb log"; cat "$work/xvfb.log"
  [ -f "$work/openbox.log" ] && { echo "--- openbox log"; cat "$work/openbox.log"; }
  exit 1
fi

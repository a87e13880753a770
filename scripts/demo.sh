#!/usr/bin/env bash
# A real mirroring session of the share view: installs what is missing,
# builds, and runs VeltoShareView under the stand-in for the main application
# (a test and demo tool, not part of the product). The stand-in shows an
# ordinary window with coloured bars and a magenta "private" window over it,
# starts the share view as its child, prints the status lines it reads, saves
# a picture of the share window, closes the window and shows "stopped".
#
# Runs on $DISPLAY when an X server answers there, otherwise on an Xvfb of its
# own. Environment: VELTO_BUILD_DIR (default build), DEMO_SCREENSHOT (default
# docs/shareview-demo.png), DEMO_SCREEN_PICTURE (the whole screen, default
# docs/shareview-demo-screen.png), DEMO_HOLD (seconds live first, default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${VELTO_BUILD_DIR:-build}
screenshot=${DEMO_SCREENSHOT:-docs/shareview-demo.png}
screen_picture=${DEMO_SCREEN_PICTURE:-docs/shareview-demo-screen.png}
hold=${DEMO_HOLD:-2}

bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target VeltoShareView velto-host-standin

xvfb_pid=""
fifo=$(mktemp -u /tmp/velto-demo-display-XXXXXX)
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$fifo"
}
trap cleanup EXIT
if [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
  echo "demo: using the X display $DISPLAY"
else
  mkfifo "$fifo"
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1920x1080x24 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  number=""
  read -r -t 20 number <"$fifo" || true
  [ -n "$number" ] || { echo "demo: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$number"
  echo "demo: no X display answered; started Xvfb on $DISPLAY"
  # A desktop colour, so that the black share window stands out from it.
  xsetroot -solid '#3a4a5a'

fi

mkdir -p "$(dirname "$screenshot")"
"$build/bin/velto-host-standin" --share-view "$build/bin/VeltoShareView" \
  --scenario close --verify --hold "$hold" --screenshot "$screenshot" --screen-picture "$screen_picture"
echo "demo: the whole screen while live: $screen_picture"
echo "demo: the share window while live: $screenshot"

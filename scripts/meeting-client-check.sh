#!/usr/bin/env bash
# The share window as a real meeting client receives it: Chromium shares the
# window "Velto Share View — share this window" with getDisplayMedia, as the
# browser- and Electron-based meeting applications do on X11, and a local
# page reports every frame it receives (scripts/meeting-client/page.html):
# frames a second, the colour of an animated public window, and the private
# pixels in the frame. The share view runs under the stand-in for the main
# application (its parent, the only reader of its status lines, with a
# magenta private window on screen).
#
# Cases, each measured for CASE_SECONDS: the capture started while the main
# application's private window lies over the share window (and stays there);
# plain; half and
# fully covered by another window (its place during a talk: behind the
# slides); resized to another shape; after a switch to another workspace.
# Sessions: openbox, and openbox with picom compositing. Not headless: the
# window is captured from an Xvfb of the script's own.
#
# usage: bash scripts/meeting-client-check.sh [BUILD_DIR]
# Environment: CASE_SECONDS (default 20), ANIMATION_RATE (colour changes a
# second, default 10), SESSIONS (default "openbox picom"), OUT (logs and
# pictures, default BUILD_DIR/meeting-client-check).
# Installs what it needs (Chromium among it, which is large); exits 1 when a
# case fails: a private pixel in any received frame (between the cases too),
# or a stream that stalled (under 5 frames a second, or under half of the
# animation's colour changes received). Rates under 20 frames a second or 90 %
# of the changes are reported without failing: a busy machine dips there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
case_seconds=${CASE_SECONDS:-20}
rate=${ANIMATION_RATE:-10}
sessions=${SESSIONS:-openbox picom}
out=${OUT:-$build/meeting-client-check}
here=$root/scripts/meeting-client
python=/usr/bin/python3  # Debian's, which has Tk

bash scripts/install-deps.sh
bash scripts/install-deps.sh chromium python3-tk xdotool
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target VeltoShareView velto-host-standin velto-bench-probe >/dev/null
rm -rf "$out"
mkdir -p "$out"

now_ms() { date +%s%3N; }

# Waits up to $1 seconds for a pattern in a file.
wait_for_line() {
  local seconds=$1 pattern=$2 file=$3
  for _ in $(seq $((seconds * 10))); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "meeting-client-check: \"$pattern\" did not appear in $file" >&2
  return 1
}

# The one viewable window that xdotool finds with these arguments.
find_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "meeting-client-check: no window for $*" >&2
  return 1
}

# "X Y WIDTH HEIGHT" of a window's content on the screen.
geometry_of() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}'
}

measure_case() {
  local session=$1 name=$2 start end load probe shown
  sleep 2  # the change settles
  start=$(now_ms)
  # The frames the share window itself shows meanwhile, counted from outside:
  # what the meeting could receive at most.
  "$build/bin/velto-bench-probe" fps --seconds "$case_seconds" >"$out/$session-$name-shown.txt" &
  probe=$!
  sleep $((case_seconds / 2))
  import -window root "$out/$session-$name.png"
  sleep $((case_seconds - case_seconds / 2))
  end=$(now_ms)
  wait "$probe" || true
  shown=$(awk '{print $2}' "$out/$session-$name-shown.txt")
  # The machine's load over the last minute: figures from a busy machine say less.
  read -r load _ </proc/loadavg
  echo "CASE $name $start $end $load ${shown:--}" >>"$out/$session-cases.txt"
  echo "[$session] measured: $name"
}

run_session() {
  local session=$1
  source "$root/VeltoShareView/tests/e2e/x-session.sh"
  start_x_session openbox
  if [ "$session" = picom ]; then
    picom --backend xrender --no-fading-openclose --config /dev/null >"$out/$session-picom.log" 2>&1 &
    x_pids+=($!)
    for _ in $(seq 100); do
      xwininfo -root -children 2>/dev/null | grep -q '"picom"' && break
      sleep 0.1
    done
  fi
  read -r screen_width screen_height < <(xwininfo -root | awk '/^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print w, h}')

  # The animated public window, top right.
  "$python" "$here/test-window.py" --title "Animated window" --geometry 400x300+1250+60 --rate "$rate" \
    >"$out/$session-animation.txt" 2>"$out/$session-animation.log" &
  x_pids+=($!)
  local animated
  animated=$(find_window --name '^Animated window$')

  # The main application's stand-in: an ordinary window, its private window
  # and the share view as its child, live for as long as this session lasts.
  "$build/bin/velto-host-standin" --share-view "$build/bin/VeltoShareView" --scenario close --hold 3600 \
    >"$out/$session-standin.log" 2>&1 &
  x_pids+=($!)
  wait_for_line 30 '"live" follows' "$out/$session-standin.log"
  local share private
  share=$(find_window --class '^com\.velto\.Velto\.shareview$')
  private=$(find_window --class '^com\.velto\.Velto$')
  xprop -id "$share" _NET_WM_DESKTOP _NET_WM_STATE | sed "s/^/[$session] share window: /"

  # The share window at the lower right; the meeting client at the lower left.
  xdotool windowmove --sync "$share" 950 450 || true
  sleep 0.5
  read -r share_x share_y share_width share_height < <(geometry_of "$share")
  read -r private_x private_y private_width private_height < <(geometry_of "$private")
  read -r anim_x anim_y anim_width anim_height < <(geometry_of "$animated")
  # On every workspace, as the share window is: the workspace case then shows
  # the animation, and the private window that must stay out of the picture.
  # (xdotool reports a failed property read here; the request itself works.)
  xdotool set_desktop_for_window "$animated" -1 2>/dev/null
  xdotool set_desktop_for_window "$private" -1 2>/dev/null

  # Captured while the main application's window lies over the share window.
  xdotool windowsize "$private" "$((share_width + 20))" "$((share_height + 20))"
  xdotool windowmove "$private" "$((share_x - 10))" "$((share_y - 10))"
  xdotool windowactivate "$private"
  sleep 0.5
  local query="sw=$screen_width&sh=$screen_height&ax=$anim_x&ay=$anim_y&aw=$anim_width&ah=$anim_height"
  query+="&palette=00a000,00d0d0,d0d000,60ff60,006060,a0ffa0"
  chromium --no-sandbox --ozone-platform=x11 --user-data-dir="$out/$session-profile" --no-first-run \
    --auto-select-desktop-capture-source="Velto Share View" --enable-logging=stderr --v=0 \
    --disable-background-networking --disable-component-update --disable-sync --disable-quic \
    --window-position=20,600 --window-size=880,440 \
    --app="file://$here/page.html?$query" >"$out/$session-chromium.log" 2>&1 &
  x_pids+=($!)
  wait_for_line 60 'MEETING capturing' "$out/$session-chromium.log"
  wait_for_line 20 'MEETING frame' "$out/$session-chromium.log"
  # Chromium brings the window it starts to capture to the front: the main
  # application's window goes back over it, for the whole case.
  xdotool windowactivate "$private"
  local meeting
  meeting=$(find_window --name '^Meeting client check$')
  # The meeting's own window goes along to every workspace, so that its page
  # keeps counting when the presenter switches.
  xdotool set_desktop_for_window "$meeting" -1 2>/dev/null
  measure_case "$session" started-covered
  xdotool windowsize "$private" "$private_width" "$private_height"
  xdotool windowmove "$private" "$private_x" "$private_y"

  measure_case "$session" plain

  "$python" "$here/test-window.py" --title "Slides" --colour "#80b080" \
    --geometry "$((share_width / 2 + 10))x$((share_height + 60))+$((share_x - 10))+$((share_y - 40))" \
    2>"$out/$session-slides.log" &
  local slides_pid=$!
  x_pids+=($slides_pid)
  local slides
  slides=$(find_window --name '^Slides$')
  measure_case "$session" half-covered
  xdotool windowsize "$slides" "$((share_width + 20))" "$((share_height + 60))"
  measure_case "$session" fully-covered
  kill "$slides_pid"

  xdotool windowsize "$share" 640 560
  measure_case "$session" resized
  xdotool windowsize "$share" "$share_width" "$share_height"

  xdotool set_desktop 1
  sleep 0.3
  xwininfo -id "$share" | grep 'Map State' | sed "s/^ */[$session] share window on workspace 2: /"
  measure_case "$session" workspace-switched
  xdotool set_desktop 0

  "$python" "$here/summarise.py" "$session" "$out/$session-cases.txt" "$out/$session-animation.txt" \
    "$out/$session-chromium.log" | tee "$out/$session-summary.txt"
}

status=0
for session in $sessions; do
  echo "== session: $session"
  ( run_session "$session" ) || status=1
done
echo "Logs and pictures: $out"
exit $status

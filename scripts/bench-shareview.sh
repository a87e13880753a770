#!/usr/bin/env bash
# What mirroring costs, on a 1920x1080 Xvfb of its own: CPU of the share view
# (client) and the X server's extra CPU on top of the scene alone, side by side
# with two peers on the same display in the same run:
#   ffmpeg -f x11grab -framerate 30 -i :N -f null -           (grab only, the floor)
#   ffplay -f x11grab -framerate 30 -i :N -vf scale=960:-1    (a plain mirror window)
# Scenes: static (nothing moves) and animated (ffplay testsrc2 1600x900 at
# 30 fps with SDL's software renderer). The share view runs under the stand-in
# host (ordinary window, private window over it). Then the share view's
# resident memory over a longer animated run.
#
# Usage: scripts/bench-shareview.sh [build-dir]
#   SECONDS_EACH (default 20) per measurement, RSS_SECONDS (default 120).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds_each=${SECONDS_EACH:-20}
rss_seconds=${RSS_SECONDS:-120}
share_view=$build/bin/VeltoShareView
standin=$build/bin/velto-host-standin
for file in "$share_view" "$standin"; do
  [[ -x $file ]] || { echo "missing $file: build VeltoShareView and velto-host-standin first" >&2; exit 1; }
done
for tool in ffmpeg ffplay Xvfb xsetroot; do
  command -v "$tool" >/dev/null || { echo "missing $tool (Debian: ffmpeg, xvfb, x11-xserver-utils)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/velto-bench-shareview-XXXXXX)
pids=()
cleanup() {
  # Clients first, the X server last, so that none is left hanging on it.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  sleep 1
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1920x1080x24 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
pids+=("$xvfb")
read -r -t 10 display_number <"$work/display"
export DISPLAY=":$display_number"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
export SDL_RENDER_DRIVER=software SDL_AUDIODRIVER=dummy
xsetroot -solid '#3a4a5a'

ticks=$(getconf CLK_TCK)
# utime + stime; the command name may hold spaces, so count from its ')'.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# Core-seconds per second of pid over the next seconds_each seconds.
measure() {  # pid -> "client server" in cores
  local pid=$1 c0 s0 c1 s1 t0 t1
  c0=$(cpu_ticks "$pid"); s0=$(cpu_ticks "$xvfb"); t0=$(date +%s.%N)
  sleep "$seconds_each"
  c1=$(cpu_ticks "$pid"); s1=$(cpu_ticks "$xvfb"); t1=$(date +%s.%N)
  awk -v c="$((c1 - c0))" -v s="$((s1 - s0))" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
    'BEGIN { d = t1 - t0; printf "%.4f %.4f\n", c / hz / d, s / hz / d }'
}
server_alone() {  # the scene's own server cost
  local s0 s1 t0 t1
  s0=$(cpu_ticks "$xvfb"); t0=$(date +%s.%N)
  sleep "$seconds_each"
  s1=$(cpu_ticks "$xvfb"); t1=$(date +%s.%N)
  awk -v s="$((s1 - s0))" -v t0="$t0" -v t1="$t1" -v hz="$ticks" 'BEGIN { printf "%.4f\n", s / hz / (t1 - t0) }'
}

# The share view under the stand-in, live for `hold` seconds; prints its pid.
start_share_view() {  # hold-seconds
  "$standin" --share-view "$share_view" --scenario close --hold "$1" >"$work/standin.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    grep -q '"state":"live"' "$work/standin.out" 2>/dev/null && break
    sleep 0.05
  done
  grep -q '"state":"live"' "$work/standin.out" || { cat "$work/standin.out" >&2; exit 1; }
  sed -n 's/.*started VeltoShareView \([0-9]*\) .*/\1/p' "$work/standin.out"
}

results=()
run_scene() {  # scene-name
  local scene=$1 base pid line
  sleep 2
  base=$(server_alone)
  results+=("$scene|scene alone|-|$base|-")

  pid=$(start_share_view $((seconds_each + 4)))
  sleep 2
  line=$(measure "$pid")
  results+=("$scene|VeltoShareView|${line% *}|${line#* }|$base")
  wait_for_exit "$pid"

  ffmpeg -nostdin -loglevel fatal -f x11grab -framerate 30 -video_size 1920x1080 -i "$DISPLAY" -f null - &
  pid=$!; pids+=("$pid"); sleep 2
  line=$(measure "$pid")
  results+=("$scene|ffmpeg x11grab (floor)|${line% *}|${line#* }|$base")
  kill "$pid"; wait "$pid" 2>/dev/null || true

  ffplay -loglevel error -f x11grab -framerate 30 -video_size 1920x1080 -i "$DISPLAY" -vf scale=960:-1 \
    -left 900 -top 450 &
  pid=$!; pids+=("$pid"); sleep 2
  line=$(measure "$pid")
  results+=("$scene|ffplay x11grab mirror|${line% *}|${line#* }|$base")
  kill "$pid"; wait "$pid" 2>/dev/null || true
}
wait_for_exit() {
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done
}

echo "bench: display $DISPLAY, $seconds_each s per measurement" >&2
run_scene static

ffplay -loglevel error -an -f lavfi -i testsrc2=size=1600x900:rate=30 -left 160 -top 90 -noborder &
animation=$!
pids+=("$animation")
run_scene animated

echo
printf '%-9s %-26s %12s %16s %14s\n' scene subject "client cores" "server extra" "total cores"
for row in "${results[@]}"; do
  IFS='|' read -r scene subject client server base <<<"$row"
  if [[ $client == - ]]; then
    printf '%-9s %-26s %12s %16s %14s\n' "$scene" "$subject" - "($server alone)" -
  else
    awk -v sc="$scene" -v su="$subject" -v c="$client" -v s="$server" -v b="$base" \
      'BEGIN { e = s - b; printf "%-9s %-26s %12.4f %16.4f %14.4f\n", sc, su, c, e, c + e }'
  fi
done

echo
echo "resident memory of VeltoShareView over ${rss_seconds} s (animated scene):"
pid=$(start_share_view $((rss_seconds + 2)))
for ((elapsed = 0; elapsed <= rss_seconds; elapsed += 10)); do
  printf '  %4d s  %s\n' "$elapsed" "$(awk '/VmRSS/ {print $2, $3}' "/proc/$pid/status")"
  [[ $elapsed -lt $rss_seconds ]] && sleep 10
done
wait_for_exit "$pid"

#!/usr/bin/env bash
# What mirroring costs and what it shows, scene by scene, in one run.
#
# Scenes (ffplay with SDL's software renderer plays the moving parts):
#   static        nothing moves
#   small-video   testsrc2 320x240 at 30 fps in a borderless window, rest static
#   animation     testsrc2 1600x900 at 30 fps
#   animation-4k  the same 1600x900 animation on a 3840x2160 screen
# The first three run on one 1920x1080 Xvfb; the 4K scene on a second Xvfb of
# 3840x2160, started after the first is gone (the share view captures a whole
# RandR monitor, and Xvfb's one monitor is the whole screen).
#
# For each scene, on the same Xvfb and in the same run:
#   - the share view's cost: CPU of the client (VeltoShareView, started by the
#     stand-in host as the main application starts it) plus the X server's
#     extra CPU over the scene alone, in cores;
#   - the grab-only floor's cost, measured the same way:
#       ffmpeg -f x11grab -framerate 30 -video_size WxH -i :N -f null -
#   - their ratio (share view / floor);
#   - frames per second the share window shows, counted from outside by
#     velto-bench-probe (DAMAGE on the share window's tree; the picture
#     changes only when the screen does, so a static screen shows ~0);
#   - voluntary context switches of the share view (all its threads) per
#     frame shown, counted while the frames are: every hop of a frame from
#     thread to thread, and every wait on the X server, costs one;
#   - glass-to-glass latency: the probe maps an ordinary 200x150 window of its
#     own, changes its colour 40 times with random 50–150 ms pauses and times
#     each change until the share window shows it (median, 90th percentile).
# The probe runs after the CPU measurement, so it never adds to the costs.
# Beside the share window's frames, the scene's own window is counted alike:
# it bounds what the share window can show.
# Then the share view's resident memory over a long run of the animation, and
# the server's time to scale the animation's window into the frame with each
# filter, against a copy of as many pixels.
#
# Usage: scripts/bench-shareview.sh [build-dir]
#   SECONDS_EACH (default 20) per measurement, RSS_SECONDS (default 600).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds_each=${SECONDS_EACH:-20}
rss_seconds=${RSS_SECONDS:-600}
latency_rounds=40
# Room for the latency rounds and their pauses, even on a busy machine.
latency_budget=$((latency_rounds / 4 + 5))
share_view=$build/bin/VeltoShareView
standin=$build/bin/velto-host-standin
probe=$build/bin/velto-bench-probe
for file in "$share_view" "$standin" "$probe"; do
  [[ -x $file ]] || { echo "missing $file: build the project (with its tools) first" >&2; exit 1; }
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
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
export SDL_RENDER_DRIVER=software SDL_AUDIODRIVER=dummy

start_xvfb() {  # WxH -> sets xvfb, screen_size and DISPLAY
  rm -f "$work/display"
  mkfifo "$work/display"
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "$1x24" 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  pids+=("$xvfb")
  local number
  read -r -t 10 number <"$work/display"
  export DISPLAY=":$number"
  screen_size=$1
  xsetroot -solid '#3a4a5a'
}
# A reaped pid may be reused: the cleanup must not kill what it now names.
forget() {  # pid
  local kept=() pid
  for pid in "${pids[@]}"; do [[ $pid == "$1" ]] || kept+=("$pid"); done
  pids=("${kept[@]}")
}
stop() {  # pid: ends one process of ours and reaps it
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  forget "$1"
}

ticks=$(getconf CLK_TCK)
# utime + stime; the command name may hold spaces, so count from its ')'.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# Voluntary context switches of every thread of pid so far.
voluntary_switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'
}
# Core-seconds per second of pid and of the X server over seconds_each.
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

# The share view under the stand-in, live for `hold` seconds: sets standin
# (our child) and share_pid (its grandchild).
start_share_view() {  # hold-seconds
  # A fresh file, so that the last run's "live" cannot be mistaken for this one's.
  rm -f "$work/standin.out"
  "$standin" --share-view "$share_view" --scenario close --hold "$1" >"$work/standin.out" 2>&1 &
  standin_pid=$!
  pids+=("$standin_pid")
  for _ in $(seq 300); do
    grep -q '"state":"live"' "$work/standin.out" 2>/dev/null && break
    sleep 0.05
  done
  grep -q '"state":"live"' "$work/standin.out" || { cat "$work/standin.out" >&2; exit 1; }
  share_pid=$(sed -n 's/.*started VeltoShareView \([0-9]*\) .*/\1/p' "$work/standin.out")
}
# The stand-in closes the share window when its hold is over and reaps it.
wait_for_share_view_end() {
  for _ in $(seq 1200); do kill -0 "$share_pid" 2>/dev/null || break; sleep 0.05; done
  wait "$standin_pid" 2>/dev/null || true
  forget "$standin_pid"
}

# "median p90" of the probe's latency rounds, or "- -" when it could not tell.
probe_latency() {
  "$probe" latency --count "$latency_rounds" >"$work/latency" || { echo "- -"; return; }
  awk '$9 > 0 { print "bench: " $9 " latency rounds missed" > "/dev/stderr" } { print $3, $5 }' "$work/latency"
}

# scene|alone|share client|share server|floor client|floor server|fps|scene fps|latency median|latency p90|switches|frames
results=()
run_scene() {  # scene-name
  local scene=$1 base share floor fps scene_fps latency
  echo "bench: ${SECONDS} s: $scene on $DISPLAY ($screen_size)" >&2
  sleep 2
  base=$(server_alone)

  start_share_view $((2 + 2 * seconds_each + latency_budget + 2))
  sleep 2
  share=$(measure "$share_pid")
  # What the scene itself shows meanwhile bounds what the share window can.
  local scene_probe=
  if [[ -n $played_title ]]; then
    "$probe" fps --seconds "$seconds_each" --title "$played_title" >"$work/scene-fps" &
    scene_probe=$!
  fi
  local switches_before shown switches
  switches_before=$(voluntary_switches "$share_pid")
  shown=$("$probe" fps --seconds "$seconds_each") || shown=
  switches=$(($(voluntary_switches "$share_pid") - switches_before))
  fps=$(awk '{print $2}' <<<"$shown")
  [[ -n $fps ]] || fps=-
  scene_fps=-
  if [[ -n $scene_probe ]] && wait "$scene_probe"; then scene_fps=$(awk '{print $2}' "$work/scene-fps"); fi
  latency=$(probe_latency)
  wait_for_share_view_end

  ffmpeg -nostdin -loglevel fatal -f x11grab -framerate 30 -video_size "$screen_size" -i "$DISPLAY" -f null - &
  local grab=$!
  pids+=("$grab")
  sleep 2
  floor=$(measure "$grab")
  stop "$grab"
  results+=("$scene|$base|${share% *}|${share#* }|${floor% *}|${floor#* }|$fps|$scene_fps|${latency% *}|${latency#* }|$switches|$(awk '{print $4}' <<<"$shown")")
}
played_title=
play() {  # WxH left top -> sets played (the ffplay pid) and played_title (its window's)
  played_title="testsrc2=size=$1:rate=30"
  ffplay -loglevel error -an -f lavfi -i "testsrc2=size=$1:rate=30" -left "$2" -top "$3" -noborder &
  played=$!
  pids+=("$played")
}

start_xvfb 1920x1080
run_scene static

play 320x240 1500 780
run_scene small-video
stop "$played"
played_title=

play 1600x900 160 90
run_scene animation

echo "bench: resident memory over ${rss_seconds} s of the animation" >&2
rss_lines=()
start_share_view $((rss_seconds + 5))
elapsed=0
while :; do
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$share_pid/status" 2>/dev/null) || {
    echo "bench: VeltoShareView ended after $elapsed s of the memory run" >&2
    break
  }
  rss_lines+=("$elapsed $rss")
  ((elapsed < rss_seconds)) || break
  step=$((rss_seconds - elapsed < 30 ? rss_seconds - elapsed : 30))
  sleep "$step"
  elapsed=$((elapsed + step))
done
wait_for_share_view_end
stop "$played"
# The share window shows the 1920x1080 screen at 960x540: the capture scales by one half.
scale_cost=$("$probe" scale-cost --scale 0.5 --count 300) || scale_cost="(not measured)"
stop "$xvfb"

start_xvfb 3840x2160
play 1600x900 1120 630
run_scene animation-4k
stop "$played"

echo
echo "| scene | share view cores | floor cores | ratio | fps shown | voluntary switches per frame | latency median ms | latency p90 ms |"
echo "|---|---|---|---|---|---|---|---|"
for row in "${results[@]}"; do
  IFS='|' read -r scene base sc ss fc fs fps _ median p90 switches frames <<<"$row"
  awk -v scene="$scene" -v b="$base" -v sc="$sc" -v ss="$ss" -v fc="$fc" -v fs="$fs" -v fps="$fps" \
    -v median="$median" -v p90="$p90" -v switches="$switches" -v frames="$frames" -v seconds="$seconds_each" 'BEGIN {
      share = sc + ss - b; grab = fc + fs - b
      # Hardly a frame shown (a still screen): the switches per second instead.
      per = frames >= seconds ? sprintf("%.2f", switches / frames) \
        : sprintf("%d frames, %.2f/s", frames, switches / seconds)
      printf "| %s | %.4f | %.4f | %.2f × | %s | %s | %s | %s |\n", scene, share, grab, (grab > 0 ? share / grab : 0),
        fps, per, median, p90 }'
done

echo
echo "Detail: CPU in cores (server = the X server's extra CPU over the scene alone); frames per second"
echo "the scene's own window shows (what bounds the share window's)."
printf '%-13s %12s %13s %13s %13s %13s %10s\n' scene "scene alone" "share client" "share server" "floor client" \
  "floor server" "scene fps"
for row in "${results[@]}"; do
  IFS='|' read -r scene base sc ss fc fs _ scene_fps _ <<<"$row"
  awk -v scene="$scene" -v b="$base" -v sc="$sc" -v ss="$ss" -v fc="$fc" -v fs="$fs" -v fps="$scene_fps" \
    'BEGIN { printf "%-13s %12.4f %13.4f %13.4f %13.4f %13.4f %10s\n", scene, b, sc, ss - b, fc, fs - b, fps }'
done

echo
echo "Resident memory of VeltoShareView over ${rss_seconds} s of the animation (1920x1080):"
((${#rss_lines[@]})) || { echo "  (no reading)"; exit 1; }
for line in "${rss_lines[@]}"; do printf '  %4d s  %s kB\n' $line; done
first=${rss_lines[0]#* }
last=${rss_lines[-1]#* }
most=$(printf '%s\n' "${rss_lines[@]}" | awk '$2 > m { m = $2 } END { print m }')
echo "  first $first kB, last $last kB, most $most kB"

echo
echo "The server's time per frame to bring the 1600x900 animation into the frame (1920x1080 shown at 960x540),"
echo "against a copy of as many pixels:"
sed 's/^scale-cost /  /' <<<"$scale_cost"

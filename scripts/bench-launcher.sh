#!/usr/bin/env bash
# Idle cost of the launcher agent on an Xvfb of its own, then one gesture.
#
# Idle: after "ready" and 2 s to settle, a stretch with no key (default 60 s):
# the agent's voluntary wake-ups (context switches of all its threads, from
# /proc/PID/task/*/status), its CPU and the X server's in % of one core, and
# its heap allocations. Beside it, over the same stretch, a Qt application
# that only runs a 20 ms timer: what any Qt agent polling at 50 Hz costs.
# Gestures: right Alt pressed through XTEST by keycode and held 0.7 s, five
# times (GESTURES=n to change); the main application (a script) must start
# once for each, and the times from the press to its start are printed.
#
# Usage: scripts/bench-launcher.sh [build-dir]      (DURATION=seconds to change 60)
# Needs a build with the tests (the allocation counter is built with them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
duration=${DURATION:-60}
bundle_id=${BUNDLE_ID:-com.velto.Velto}
launcher=$build/bin/VeltoLauncher
counter=$build/launcher/tests/e2e/libvelto_allocation_counter.so
reference=$build/bin/launcher_idle_reference
e2e=$root/launcher/tests/e2e
for file in "$launcher" "$counter" "$reference"; do
  [[ -e $file ]] || { echo "missing $file: build the project with tests first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/velto-bench-launcher-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The display number arrives on a pipe once the server is ready.
mkfifo "$work/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
pids+=("$xvfb")
read -r -t 10 display_number <"$work/display"

# The main application: a script that notes when it started.
mkdir -p "$work/home" "$work/state/VeltoLauncher" "$work/data/applications" "$work/runtime"
cat >"$work/opened.sh" <<'SCRIPT'
#!/bin/sh
date +%s.%N >>"$VELTO_OPENED_LOG"
SCRIPT
chmod +x "$work/opened.sh"
printf '[Desktop Entry]\nType=Application\nName=Velto\nExec=%s\n' "$work/opened.sh" \
  >"$work/data/applications/$bundle_id.desktop"

report=$work/allocations
env -i DISPLAY=":$display_number" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" "$reference" 2>/dev/null &
pids+=("$!")
reference_pid=$!
env -i PATH="$PATH" HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" \
  XDG_DATA_DIRS="$work/data" XDG_RUNTIME_DIR="$work/runtime" DISPLAY=":$display_number" QT_QPA_PLATFORM=xcb \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" VELTO_OPENED_LOG="$work/opened" \
  LD_PRELOAD="$counter" VELTO_ALLOCATION_REPORT="$report" \
  "$launcher" 2>"$work/stderr" &
agent=$!
pids+=("$agent")

for _ in $(seq 100); do
  [[ -s $work/state/VeltoLauncher/launcher-state.json ]] && break
  sleep 0.05
done
sleep 2  # start-up work settles

# Nanoseconds on a CPU, all threads (the scheduler's own count, far finer
# than the clock ticks of /proc/PID/stat).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{total += $1} END {printf "%d", total}'; }
# Voluntary context switches, all threads: each is one sleep the thread
# chose, so one wake-up.
wakeups() { cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ {total += $2} END {printf "%d", total}'; }

agent_before=$(cpu_ns "$agent")
agent_wakeups_before=$(wakeups "$agent")
server_before=$(cpu_ns "$xvfb")
reference_before=$(cpu_ns "$reference_pid")
reference_wakeups_before=$(wakeups "$reference_pid")
kill -USR1 "$agent"
started=$(date +%s.%N)
sleep "$duration"
kill -USR1 "$agent"
ended=$(date +%s.%N)
agent_after=$(cpu_ns "$agent")
agent_wakeups_after=$(wakeups "$agent")
server_after=$(cpu_ns "$xvfb")
reference_after=$(cpu_ns "$reference_pid")
reference_wakeups_after=$(wakeups "$reference_pid")
threads=$(ls /proc/"$agent"/task | wc -l)
sleep 0.2

mapfile -t counts <"$report"
awk -v a0="$agent_before" -v a1="$agent_after" -v s0="$server_before" -v s1="$server_after" \
    -v r0="$reference_before" -v r1="$reference_after" -v w0="$agent_wakeups_before" -v w1="$agent_wakeups_after" \
    -v rw0="$reference_wakeups_before" -v rw1="$reference_wakeups_after" -v threads="$threads" \
    -v t0="$started" -v t1="$ended" -v c0="${counts[0]}" -v c1="${counts[1]}" 'BEGIN {
  seconds = t1 - t0
  printf "idle stretch:                 %.1f s\n", seconds
  printf "agent wake-ups:               %d in the stretch, %.2f per second (%d threads)\n", w1 - w0, (w1 - w0) / seconds, threads
  printf "agent CPU:                    %.4f %% of one core\n", (a1 - a0) / 1e7 / seconds
  printf "X server CPU meanwhile:       %.4f %% of one core\n", (s1 - s0) / 1e7 / seconds
  printf "bare Qt 20 ms timer beside:   %.3f %% of one core, %.1f wake-ups per second\n", (r1 - r0) / 1e7 / seconds, (rw1 - rw0) / seconds
  printf "heap allocations:             %d in the stretch\n", c1 - c0
}'

# Gestures after the idle stretch, each a fresh press after a rest: the time
# from the press to the start of the opened program includes starting it, so
# on a loaded machine the least of them shows the gesture's own timing.
gestures=${GESTURES:-5}
DISPLAY=":$display_number" PYTHONPATH="$e2e" GESTURES="$gestures" /usr/bin/python3 -c '
import os, time
from launcher_harness import Keyboard
keyboard = Keyboard(os.environ["DISPLAY"])
for _ in range(int(os.environ["GESTURES"])):
    time.sleep(1.0)
    keyboard.press("Alt_R")
    print("%.6f" % time.time(), flush=True)
    time.sleep(0.7)
    keyboard.release("Alt_R")
keyboard.close()
' >"$work/pressed"
sleep 0.5
touch "$work/opened"
paste "$work/pressed" "$work/opened" | awk 'NF == 2 { printf "%.6f\n", $2 - $1 }' | sort -n >"$work/delays"
awk -v n="$gestures" -v opened="$(wc -l <"$work/opened")" '{ delays[NR] = $1 }
  END {
    if (NR == 0) { print "gestures:                     NOT opened"; exit }
    printf "gestures:                     %d, opened %d time(s); press to start of the opened program: least %.3f s, median %.3f s, most %.3f s\n", n, opened, delays[1], delays[int((NR + 1) / 2)], delays[NR]
  }' "$work/delays"

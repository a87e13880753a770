#!/usr/bin/env bash
# Idle cost of the launcher agent on an Xvfb of its own: the agent's CPU over
# a stretch of idle time (default 60 s) and the X server's over the same
# stretch, both in % of one core, and the heap allocations per poll that does
# not fire (polls run every 20 ms). Beside it, over the same stretch, a Qt
# application that only runs a 20 ms timer: the floor for any Qt agent that
# polls at 50 Hz on this machine.
#
# Usage: scripts/bench-launcher.sh [build-dir]      (DURATION=seconds to change 60)
# Needs a build with the tests (the allocation counter is built with them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
duration=${DURATION:-60}
launcher=$build/bin/VeltoLauncher
counter=$build/launcher/tests/e2e/libvelto_allocation_counter.so
reference=$build/bin/launcher_idle_reference
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

mkdir -p "$work/home" "$work/state/VeltoLauncher" "$work/data"
report=$work/allocations
env -i DISPLAY=":$display_number" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" "$reference" 2>/dev/null &
pids+=("$!")
reference_pid=$!
env -i PATH="$PATH" HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" \
  XDG_DATA_DIRS="$work/data" XDG_RUNTIME_DIR="$work" DISPLAY=":$display_number" QT_QPA_PLATFORM=xcb \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" \
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

agent_before=$(cpu_ns "$agent")
server_before=$(cpu_ns "$xvfb")
reference_before=$(cpu_ns "$reference_pid")
kill -USR1 "$agent"
started=$(date +%s.%N)
sleep "$duration"
kill -USR1 "$agent"
ended=$(date +%s.%N)
agent_after=$(cpu_ns "$agent")
server_after=$(cpu_ns "$xvfb")
reference_after=$(cpu_ns "$reference_pid")
sleep 0.2

mapfile -t counts <"$report"
awk -v a0="$agent_before" -v a1="$agent_after" -v s0="$server_before" -v s1="$server_after" \
    -v r0="$reference_before" -v r1="$reference_after" \
    -v t0="$started" -v t1="$ended" -v c0="${counts[0]}" -v c1="${counts[1]}" 'BEGIN {
  seconds = t1 - t0
  polls = seconds / 0.02
  printf "idle stretch:                 %.1f s (%d polls)\n", seconds, polls
  printf "agent CPU:                    %.3f %% of one core (%.1f us per poll)\n", (a1 - a0) / 1e7 / seconds, (a1 - a0) / 1e3 / polls
  printf "X server CPU meanwhile:       %.3f %% of one core\n", (s1 - s0) / 1e7 / seconds
  printf "bare Qt 20 ms timer beside:   %.3f %% of one core (%.1f us per tick)\n", (r1 - r0) / 1e7 / seconds, (r1 - r0) / 1e3 / polls
  printf "heap allocations:             %d in the stretch, %.4f per poll\n", c1 - c0, (c1 - c0) / polls
}'

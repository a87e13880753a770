# Sourced by the end-to-end scripts: an X server of the test's own and, for
# the session asked for, a window manager. Everything started here ends when
# the script does, the X server last.
#   start_x_session plain|openbox|picom|wide
#   plain: no window manager; openbox: a reparenting one; picom: a
#   compositing one (it redirects every top-level window itself);
#   wide: a 3840-pixel screen, which the capture scales down in the server.

x_work=$(mktemp -d)
x_pids=()
x_cleanup() {
  for ((i = ${#x_pids[@]} - 1; i >= 0; i--)); do kill "${x_pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$x_work"
}
trap x_cleanup EXIT

x_logs() {
  local log
  for log in "$x_work"/*.log; do echo "--- $(basename "$log")"; cat "$log"; done
}

start_x_session() {
  local session=$1 size=1920x1080 number=""
  [ "$session" = wide ] && size=3840x1080
  # A free display number, chosen by the server itself once it is ready.
  mkfifo "$x_work/display"
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${size}x24" 3>"$x_work/display" >"$x_work/xvfb.log" 2>&1 &
  x_pids+=($!)
  read -r -t 20 number <"$x_work/display" || true
  [ -n "$number" ] || { echo "Xvfb did not start"; x_logs; exit 1; }
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY XDG_SESSION_TYPE

  case "$session" in
    openbox)
      openbox --sm-disable >"$x_work/openbox.log" 2>&1 &
      x_pids+=($!)
      for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
      done
      ;;
    picom)
      picom --backend xrender --no-fading-openclose --config /dev/null >"$x_work/picom.log" 2>&1 &
      x_pids+=($!)
      for _ in $(seq 100); do
        xwininfo -root -children 2>/dev/null | grep -q '"picom"' && break
        sleep 0.1
      done
      ;;
  esac
}

# Sourced by the end-to-end scripts: an X server of the test's own and, for
# the session asked for, a window manager. Everything started here ends when
# the script does, the X server last.
#   start_x_session plain|openbox|picom|xfwm4|i3|i3tiled|fluxbox|mutter|kwin|wide
#   plain: no window manager; openbox: a reparenting one; picom: a
#   compositing one (it redirects every top-level window itself);
#   xfwm4: XFCE's, compositing too; i3: frames that are override-redirect,
#   every window floating (i3tiled: tiled, as i3 starts by default);
#   fluxbox: frames without owning WM_S0; mutter and kwin: GNOME's and KDE's,
#   compositing with OpenGL (large packages, see scripts/exclusion-desktops.sh);
#   wide: a 3840-pixel screen, which the capture scales down in the server.

x_work=$(mktemp -d)
x_pids=()
x_cleanup() {
  local pid alive
  for ((i = ${#x_pids[@]} - 1; i >= 0; i--)); do kill "${x_pids[i]}" 2>/dev/null || true; done
  # fluxbox can hang in its own SIGTERM handler: what has not ended in two
  # seconds is killed.
  for _ in $(seq 20); do
    alive=0
    for pid in "${x_pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  for pid in "${x_pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$x_work"
}
trap x_cleanup EXIT

x_logs() {
  local log
  for log in "$x_work"/*.log; do echo "--- $(basename "$log")"; cat "$log"; done
}

# Waits until a window manager announces itself on the root.
x_wait_for_wm() {
  local name=$1
  for _ in $(seq 150); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.1
  done
  echo "$name did not start"
  x_logs
  exit 1
}

# A session bus of the window manager's own, ended with the session.
x_session_bus() {
  local address
  dbus-daemon --session --print-address=3 --nofork 3>"$x_work/bus" >"$x_work/dbus.log" 2>&1 &
  x_pids+=($!)
  for _ in $(seq 50); do
    address=$(head -n 1 "$x_work/bus" 2>/dev/null || true)
    [ -n "$address" ] && break
    sleep 0.1
  done
  [ -n "$address" ] || { echo "no session bus"; exit 1; }
  export DBUS_SESSION_BUS_ADDRESS=$address
}

# i3 without a bar; floating makes every window float where it asked to be.
x_i3_config() {
  local floating=$1 config="$x_work/i3.config"
  {
    echo '# i3 config file (v4)'
    echo 'font pango:monospace 8'
    echo 'focus_on_window_activation none'
    [ "$floating" = floating ] && echo 'for_window [class=".*"] floating enable'
  } >"$config"
  echo "$config"
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
    xfwm4)
      x_session_bus
      xfwm4 --compositor=on --sm-client-disable >"$x_work/xfwm4.log" 2>&1 &
      x_pids+=($!)
      x_wait_for_wm xfwm4
      ;;
    i3 | i3tiled)
      x_session_bus
      local config
      config=$(x_i3_config "$([ "$session" = i3 ] && echo floating || echo tiled)")
      i3 -c "$config" >"$x_work/i3.log" 2>&1 &
      x_pids+=($!)
      x_wait_for_wm i3
      ;;
    fluxbox)
      x_session_bus
      # A home of its own: fluxbox writes its first configuration there. No
      # wallpaper of its own: it would cover the published desktop, and its
      # setter's failure opens a message window.
      mkdir -p "$x_work/home/.fluxbox"
      echo 'background: none' >"$x_work/home/.fluxbox/overlay"
      HOME="$x_work/home" fluxbox >"$x_work/fluxbox.log" 2>&1 &
      x_pids+=($!)
      x_wait_for_wm fluxbox
      ;;
    mutter)
      x_session_bus
      mutter --x11 --replace --sm-disable >"$x_work/mutter.log" 2>&1 &
      x_pids+=($!)
      x_wait_for_wm mutter
      ;;
    kwin)
      x_session_bus
      kwin_x11 --replace >"$x_work/kwin.log" 2>&1 &
      x_pids+=($!)
      x_wait_for_wm kwin_x11
      ;;
  esac
}

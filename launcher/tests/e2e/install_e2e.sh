#!/usr/bin/env bash
# What `cmake --install` leaves for the launcher: the program, its tray icon, and an XDG
# autostart entry whose command makes the user's state directory before it
# becomes the launcher (no installer can make that directory for every user).
# Usage: install_e2e.sh BUILD_DIR AUTOSTART_FILE_NAME
set -euo pipefail
build=$1
autostart_name=$2
stage=$(mktemp -d /tmp/velto-launcher-install-XXXXXX)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage/root" cmake --install "$build" >/dev/null
entry=$(find "$stage/root" -path "*/autostart/$autostart_name")
[[ -n $entry ]] || { echo "no autostart entry $autostart_name"; exit 1; }
exec_line=$(sed -n 's/^Exec=//p' "$entry")
session="$stage/root$exec_line"
[[ -x $session ]] || { echo "autostart command $exec_line not installed"; exit 1; }
launcher_line=$(sed -n 's/^exec "\(.*\)"$/\1/p' "$session")
[[ -x "$stage/root$launcher_line" ]] || { echo "the session script starts $launcher_line, which is not installed"; exit 1; }

# The tray icon, in the theme under the name the program asks for.
icon_name=${autostart_name%.desktop}
for picture in 16x16/apps/$icon_name.png 24x24@2/apps/$icon_name.png 48x48/apps/$icon_name.png \
    scalable/apps/$icon_name.svg; do
  [[ -n $(find "$stage/root" -path "*/share/icons/hicolor/$picture") ]] || { echo "no icon $picture"; exit 1; }
done

# The staged script cannot start the launcher (its path is the final one);
# what matters here is the directory it makes first.
check_state_directory() {
  local expected=$1
  shift
  env -i HOME="$stage/home" "$@" sh "$session" >/dev/null 2>&1 || true
  [[ -d $expected ]] || { echo "no state directory $expected (with $*)"; exit 1; }
}
check_state_directory "$stage/home/.local/state/VeltoLauncher"
check_state_directory "$stage/state/VeltoLauncher" XDG_STATE_HOME="$stage/state"
rm -rf "$stage/home/.local"
check_state_directory "$stage/home/.local/state/VeltoLauncher" XDG_STATE_HOME=relative/state
echo "install: passed"

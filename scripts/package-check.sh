#!/usr/bin/env bash
# The Debian package from first to last: built with `cpack -G DEB` from a
# release build folder configured with -DCMAKE_INSTALL_PREFIX=/usr, checked
# with lintian (no error, no warning; its info lines are printed) and
# desktop-file-validate, installed with dpkg -i, its programs run briefly
# (the launcher as its autostart entry starts it, under an Xvfb of its own),
# purged, and nothing of it may be left behind.
#
# Usage: scripts/package-check.sh [build-dir]      (root, or sudo for dpkg)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
package=velto-companions
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

fail() { echo "package check: $*" >&2; exit 1; }

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[[ $prefix == /usr ]] || fail "$build is configured for $prefix; configure it with -DCMAKE_INSTALL_PREFIX=/usr"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
  fail "$package is installed already; remove it first (dpkg --purge $package)"
fi

work=$(mktemp -d /tmp/velto-package-check-XXXXXX)
pids=()
installed=false
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if $installed; then $sudo_cmd dpkg --purge "$package" >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name "${package}_*.deb")
[[ -f $deb ]] || fail "cpack made no package"
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) kB"

# Every line lintian prints is shown: the info lines are for the reader.
lintian_status=0
lintian -I --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
if [[ $lintian_status -ne 0 ]] || grep -q '^[EW]:' "$work/lintian.log"; then
  fail "lintian found errors or warnings"
fi
echo "lintian: no error, no warning"

dpkg-deb -x "$deb" "$work/contents"
mapfile -t entries < <(find "$work/contents" -name '*.desktop')
[[ ${#entries[@]} -gt 0 ]] || fail "no desktop entry in the package"
for entry in "${entries[@]}"; do
  desktop-file-validate "$entry" || fail "desktop-file-validate: ${entry#"$work/contents"}"
done
echo "desktop-file-validate: ${#entries[@]} entries clean"

$sudo_cmd dpkg -i "$deb" >/dev/null
installed=true
mapfile -t owned < <(dpkg -L "$package")

[[ $(VeltoLauncher --version) == "VeltoLauncher "* ]] || fail "VeltoLauncher --version"
VeltoLauncher --help | grep -q '^Usage: VeltoLauncher' || fail "VeltoLauncher --help"
for page in VeltoShareView VeltoLauncher velto-launcher-session; do
  man -w "$page" >/dev/null || fail "no manual page for $page"
done

mkfifo "$work/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
pids+=("$!")
read -r -t 10 display_number <"$work/display" || fail "Xvfb did not start"
display=":$display_number"

check=$(DISPLAY=$display VeltoShareView --check) || fail "VeltoShareView --check failed"
[[ $check == *'"state":"diagnostic"'* && $check == *'"screenPermission":true'* ]] ||
  fail "VeltoShareView --check: $check"

# The autostart entry's command, as a session runs it at login: it makes the
# state directory and becomes the launcher, which records "ready".
autostart=$(printf '%s\n' "${owned[@]}" | grep '/autostart/.*\.desktop$' | head -n1)
[[ -f $autostart ]] || fail "no autostart entry installed"
command=$(sed -n 's/^Exec=//p' "$autostart")
mkdir -p "$work/home" "$work/runtime"
env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$display" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" "$command" 2>"$work/agent.log" &
agent=$!
pids+=("$agent")
state=$work/home/.local/state/VeltoLauncher/launcher-state.json
for _ in $(seq 100); do
  grep -qs '"ready"' "$state" && break
  sleep 0.1
done
grep -qs '"ready"' "$state" || { cat "$work/agent.log"; fail "the autostarted launcher recorded no ready"; }
[[ $(readlink "/proc/$agent/exe") == /usr/bin/VeltoLauncher ]] || fail "the session script did not become the launcher"
kill "$agent"
echo "installed programs: --version, --help, manual pages, --check and the autostarted launcher work"

$sudo_cmd dpkg --purge "$package" >/dev/null
installed=false
left=()
for path in "${owned[@]}"; do
  [[ -e $path ]] || continue
  # A directory stays when another package, or something of the machine's, lives in it.
  if [[ -d $path ]] && { dpkg -S "$path" >/dev/null 2>&1 || [[ -n $(ls -A "$path") ]]; }; then continue; fi
  left+=("$path")
done
[[ ${#left[@]} -eq 0 ]] || fail "left behind after purge: ${left[*]}"
if dpkg-query -W "$package" >/dev/null 2>&1; then fail "still known to dpkg after purge"; fi
[[ -z $(find /var/lib/dpkg/info -name "$package.*") ]] || fail "dpkg's records of the package remain"
echo "package check: passed"

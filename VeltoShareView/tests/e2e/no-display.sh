#!/usr/bin/env bash
# A good command line with no X server to reach: a clear message on stderr,
# nothing on stdout, exit status 1, and no hang.
set -uo pipefail
share_view=$1
failures=0
for display in "" ":31999"; do
  out=$(mktemp) err=$(mktemp)
  env -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE DISPLAY="$display" \
    timeout 20 "$share_view" --parent-pid $$ --display-id 1 >"$out" 2>"$err"
  status=$?
  if [[ $status -ne 1 || -s $out ]] || ! grep -q 'X display' "$err"; then
    echo "DISPLAY='$display': status $status, stdout '$(cat "$out")', stderr '$(cat "$err")'"
    failures=$((failures + 1))
  else
    echo "DISPLAY='$display': $(cat "$err")"
  fi
  rm -f "$out" "$err"
done
exit $((failures > 0))

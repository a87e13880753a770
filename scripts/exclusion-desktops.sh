#!/usr/bin/env bash
# The exclusion probe under GNOME's and KDE's window managers, which bring
# package sets too large for the test command: installs them when missing,
# then runs matrix, storm and paint under each and prints a line per run.
# usage: scripts/exclusion-desktops.sh [BUILD_DIR] [SCREENSHOT_DIR]
#   BUILD_DIR holds bin/VeltoShareView and bin/velto-exclusion-probe (build).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build} shots=${2:-}

bash "$root/scripts/install-deps.sh" mutter kwin-x11 || exit 1

failed=0
for session in mutter kwin; do
  for mode in matrix storm paint; do
    log=$(mktemp)
    start=$SECONDS
    if bash "$root/VeltoShareView/tests/e2e/run-exclusion.sh" "$build/bin/VeltoShareView" \
        "$build/bin/velto-exclusion-probe" "$mode" "$session" $shots >"$log" 2>&1; then
      echo "passed  $mode $session ($((SECONDS - start)) s)"
    else
      failed=1
      echo "FAILED  $mode $session ($((SECONDS - start)) s)"
      grep -E 'FAILED' "$log" | cut -c1-400
    fi
    rm -f "$log"
  done
done
exit $failed

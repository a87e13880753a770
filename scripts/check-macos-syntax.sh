#!/usr/bin/env bash
# Compiles every Objective-C++ file of the macOS layers under ARC with clang
# (objects for the macOS Objective-C runtime, thrown away; nothing is linked),
# against the declarations in scripts/macos-sdk-stubs (no Apple SDK needed).
# Catches syntax, ARC and C++ errors and any drift from the platform
# interfaces; it cannot catch a wrong Apple signature (see the stubs' README).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
clang="${CLANGXX:-clang++}"
status=0
check() {
  local program="$1" file="$2"
  "$clang" -std=c++20 -x objective-c++ -fobjc-arc -fobjc-runtime=macosx-13.0 -fblocks \
    -c -o /dev/null -Wall -Wextra -Werror \
    -DVELTO_MAIN_APP_BUNDLE_ID='"com.velto.Velto"' -DVELTO_INSTALL_LOCATION='"/Applications/Velto.app"' \
    -isystem "$root/scripts/macos-sdk-stubs" -I "$root/$program" -I "$root/$program/platform/macos" \
    "$file" || status=1
}
for file in "$root"/VeltoShareView/platform/macos/*.mm; do check VeltoShareView "$file"; done
for file in "$root"/launcher/platform/macos/*.mm; do check launcher "$file"; done
[ "$status" = 0 ] && echo "macOS layers: syntax check passed"
exit "$status"

#!/usr/bin/env bash
# Installs the Debian packages listed in debian-packages.txt, or those named on
# the command line; does nothing when they are all present already.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -gt 0 ]; then
  wanted=("$@")
else
  mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$here/debian-packages.txt")
fi
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

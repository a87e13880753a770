#!/usr/bin/env bash
# The macOS build, as far as it can be checked without a Mac.
#
# 1. Compiles every Objective-C++ file of the macOS layers under ARC with clang
#    (objects for the macOS Objective-C runtime, thrown away; nothing is
#    linked), against the declarations in scripts/macos-sdk-stubs (no Apple SDK
#    needed). Catches syntax, ARC and C++ errors and any drift from the platform
#    interfaces; it cannot catch a wrong Apple signature (see the stubs' README).
# 2. Configures the whole project for Darwin with the tests on, the compiler
#    checks skipped: the configure must succeed without looking for Qt, X11 or
#    pkg-config (Linux's copies are made findable on purpose, so a stray lookup
#    shows), generate both .app bundle targets, and register no Linux-only
#    test. The Info.plists and the LaunchAgent property list it generates are
#    checked key by key.
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

build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
configure_for_darwin() {
  local compiler
  compiler=$(command -v "$clang")
  # Where Debian keeps GoogleTest's, nlohmann-json's and Qt's CMake files.
  local multiarch
  multiarch=$(gcc -dumpmachine 2>/dev/null || echo x86_64-linux-gnu)
  if ! cmake -S "$root" -B "$build" -DCMAKE_SYSTEM_NAME=Darwin -DVELTO_BUILD_TESTS=ON \
      -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_OBJCXX_COMPILER="$compiler" \
      -DCMAKE_CXX_COMPILER_WORKS=1 -DCMAKE_OBJCXX_COMPILER_WORKS=1 \
      -DCMAKE_INSTALL_NAME_TOOL=/bin/true -DCMAKE_LIBRARY_ARCHITECTURE="$multiarch" \
      >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    echo "Darwin configure: failed" >&2
    return 1
  fi
  if grep -E -i '^(Qt6[A-Za-z]*_DIR|X11_|PKG_CONFIG_|pkgcfg_lib_)' "$build/CMakeCache.txt" >&2; then
    echo "Darwin configure: looked for Qt, X11 or pkg-config" >&2
    return 1
  fi
  if ctest --test-dir "$build" -N | grep -E -i 'e2e|linux' >&2; then
    echo "Darwin configure: registered Linux-only tests" >&2
    return 1
  fi
  /usr/bin/python3 - "$build" <<'PY'
import plistlib
import sys

build = sys.argv[1]
failures = []


def load(path):
    try:
        with open(path, "rb") as file:
            return plistlib.load(file)
    except (OSError, plistlib.InvalidFileException) as error:
        failures.append(f"{path}: {error}")
        return {}


def expect(path, plist, key, wanted):
    if plist.get(key) != wanted:
        failures.append(f"{path}: {key} is {plist.get(key)!r}, expected {wanted!r}")


for program, identifier, display in [
        ("VeltoShareView", "com.velto.Velto.shareview", "Velto Share View"),
        ("VeltoLauncher", "com.velto.Velto.launcher", "Velto Launcher")]:
    path = f"{build}/bin/{program}.app/Contents/Info.plist"
    info = load(path)
    expect(path, info, "CFBundleExecutable", program)
    expect(path, info, "CFBundleIdentifier", identifier)
    expect(path, info, "CFBundleDisplayName", display)
    expect(path, info, "CFBundlePackageType", "APPL")
    expect(path, info, "LSUIElement", True)
    expect(path, info, "LSAppNapIsDisabled", True)
    expect(path, info, "LSMinimumSystemVersion", "13.0")
    name = info.get("CFBundleName", "")
    if not name or len(name) > 15:
        failures.append(f"{path}: CFBundleName {name!r} must hold 1 to 15 characters")

path = f"{build}/com.velto.Velto.launcher.plist"
agent = load(path)
expect(path, agent, "Label", "com.velto.Velto.launcher")
expect(path, agent, "AssociatedBundleIdentifiers", ["com.velto.Velto.launcher"])
expect(path, agent, "RunAtLoad", True)
expect(path, agent, "KeepAlive", False)

for failure in failures:
    print("Darwin configure:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
PY
  echo "Darwin configure: both bundles generated, no Qt or X11, property lists as expected"
}
configure_for_darwin || status=1

exit "$status"

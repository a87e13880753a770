#!/usr/bin/env bash
# Installs what the tests need, builds and runs every test: first both cores
# under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer, then a compile check of the macOS layers, then
# the whole build with the end-to-end tests (each of those starts its own Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
jobs=$(nproc)

# Both cores alone (no platform layer), built with a sanitizer.
sanitized_core_tests() {
  local dir=$1 flags=$2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DVELTO_BUILD_PLATFORM=OFF \
    -DCMAKE_CXX_FLAGS="$flags -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="halt_on_error=1 detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
sanitized_core_tests build-tsan "-fsanitize=thread"
sanitized_core_tests build-asan "-fsanitize=address,undefined -fno-sanitize-recover=undefined"

bash scripts/check-macos-syntax.sh

# Everything, the end-to-end tests included; its summary closes the run.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

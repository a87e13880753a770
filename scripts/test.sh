#!/usr/bin/env bash
# Installs what the tests need, builds and runs every test: first the whole
# project (platform layers, programs and end-to-end tests included) with
# AddressSanitizer and UndefinedBehaviorSanitizer, with a short regression run
# of each fuzz target, then the whole project with ThreadSanitizer, then a
# compile check of the macOS layers, then the plain build, from which the
# Debian package is made, checked, installed and purged, and whose test
# summary closes the run. Every end-to-end test starts its own Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
jobs=$(nproc)

# Each stage's wall time, listed before the last stage, or at once when one fails.
stage_times=()
print_stage_times() { printf '%s\n' "--- stage times" "${stage_times[@]}"; }
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  "$@"
  stage_times+=("$(printf '%-20s %5ds' "$name" $((SECONDS - start)))")
}
trap 'status=$?; [ "$status" = 0 ] || print_stage_times' EXIT

# clang for both sanitizer builds: its runtimes are linked statically, so a
# library preloaded by a test cannot come before them.
sanitized_build() {
  local dir=$1 flags="$2 -fno-omit-frame-pointer -O1 -gline-tables-only"
  shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_COMPILER=clang++ "$@" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags"
  cmake --build "$dir" -j "$jobs"
}

# Each fuzz target over its corpus for a fixed number of runs; what it finds
# new goes to a scratch folder, never into the repository.
fuzz_regression() {
  local dir=$1 corpus what scratch
  for corpus in VeltoShareView/tests/fuzz/corpus/* launcher/tests/fuzz/corpus/*; do
    what=$(basename "$corpus")
    scratch="$dir/fuzz-scratch/$what"
    rm -rf "$scratch" && mkdir -p "$scratch"
    if ! "$dir/bin/fuzz_$what" -runs=20000 -artifact_prefix="$dir/fuzz-scratch/" "$scratch" "$corpus" \
        >"$scratch.log" 2>&1; then
      cat "$scratch.log"
      return 1
    fi
    echo "fuzz_$what: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch.log")"
  done
}

export ASAN_OPTIONS="halt_on_error=1 detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan-suppressions.txt"

stage "ASan+UBSan build" sanitized_build build-asan \
  "-fsanitize=address,undefined -fno-sanitize-recover=undefined" -DVELTO_FUZZ=ON
# The "desktops" tests (more window managers, self-painting programs) run in
# the plain stage only: the sanitizer stages keep today's three set-ups.
stage "ASan+UBSan tests" ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE desktops
stage "fuzz regression" fuzz_regression build-asan

stage "TSan build" sanitized_build build-tsan "-fsanitize=thread"
stage "TSan tests" ctest --test-dir build-tsan --output-on-failure -j "$jobs" -LE desktops

stage "macOS syntax check" bash scripts/check-macos-syntax.sh

stage "plain build" bash -c 'cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr &&
  cmake --build build -j "$0"' "$jobs"
stage "package check" bash scripts/package-check.sh build
print_stage_times
# The plain build with everything; its summary closes the run.
ctest --test-dir build --output-on-failure -j "$jobs"

#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test:
# the cores' unit tests, the end-to-end tests (each starts its own Xvfb), and
# the share view core once more under ThreadSanitizer and under
# AddressSanitizer with UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

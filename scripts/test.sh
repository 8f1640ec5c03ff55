#!/usr/bin/env bash
# Installs the dependencies, builds Tuftmill with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

BUILD_DIR=${TUFTMILL_TEST_BUILD_DIR:-build-tests}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUFTMILL_SANITIZE=ON \
  -DTUFTMILL_TEST_HOOKS=ON
cmake --build "$BUILD_DIR" -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=0
cd "$BUILD_DIR"
xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --output-on-failure -j "$(nproc)" --timeout 600

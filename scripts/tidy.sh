#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy over every source of src/, tools/ and
# bench/, using the compile commands of the test build (scripts/test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build-tests}
git ls-files -- 'src/*.cpp' 'tools/*.cpp' 'bench/*.cpp' |
  xargs -r -P "$(nproc)" -n 4 clang-tidy -p "$BUILD_DIR" --quiet 2>/dev/null

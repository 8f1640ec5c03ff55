#!/usr/bin/env bash
# Installs the dependencies, builds Tuftmill and opens it in its own workspace
# directory ("workspace/" beside the sources), seeded from the sample workspace in
# examples/ on the first run. The samples themselves are never modified.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUFTMILL_TESTS=OFF -DTUFTMILL_BENCH=OFF \
  -DTUFTMILL_TEST_HOOKS=OFF
cmake --build build-release -j "$(nproc)" --target tuftmill

WORKSPACE=${TUFTMILL_WORKSPACE:-$ROOT/workspace}
if [ ! -d "$WORKSPACE" ]; then
  mkdir -p "$WORKSPACE"
  if [ -d examples ]; then
    cp -r examples/. "$WORKSPACE/"
  fi
  echo "Created the workspace $WORKSPACE from the samples in examples/."
fi
cd "$WORKSPACE"
echo "Tuftmill works in $WORKSPACE (graftals/, scenes/, models/, logger.log)."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Tuftmill on a virtual display (Xvfb) instead."
  echo "Its window cannot be seen there; close it with Ctrl+C in this terminal (your graftals are saved)."
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$ROOT/build-release/src/tuftmill"
fi
exec "$ROOT/build-release/src/tuftmill"

#!/usr/bin/env bash
# Runs the end-to-end journeys and keeps their screenshots, halved, as the README's
# pictures in docs/images. Needs the test build in build-tests/ (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build-tests}
shots=$(mktemp -d)
# A sanitized build reports leaks at exit by default, which the journeys read as a failure.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
for journey in tst_journey tst_brushes tst_big_model; do
  TUFTMILL_SCREENSHOT_DIR="$shots" xvfb-run -a -s "-screen 0 1920x1080x24" "$BUILD_DIR/tests/$journey"
done
mkdir -p docs/images
for name in samples-start samples-torus 2-drawing 3-sprayed 5-error unsaved-scene big-loading; do
  convert "$shots/$name.png" -resize 50% -strip "docs/images/$name.png"
done
rm -rf "$shots"
echo "screenshots updated in docs/images"

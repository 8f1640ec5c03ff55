#!/usr/bin/env bash
# Formats every C++ source of the project with the .clang-format at its root.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format -i

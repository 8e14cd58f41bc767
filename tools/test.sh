#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"
cd "${BUILD_DIR:-$top/build}"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j"$(nproc)"

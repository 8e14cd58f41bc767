#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test.
#   BUILD_DIR, BUILD_TYPE  as for build.sh
#   arguments              passed on to CMake's configure step (see build.sh)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh" "$@"
cd "${BUILD_DIR:-$top/build}"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j"$(nproc)"

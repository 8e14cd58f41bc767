#!/usr/bin/env bash
# Configures and builds the project.
#   BUILD_DIR   build folder (default: build/ at the top of the tree)
#   BUILD_TYPE  CMake build type (default: RelWithDebInfo)
#   arguments   passed on to CMake's configure step, e.g. -DPELLUCOR_SANITIZE=ON
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

#!/usr/bin/env bash
# Sets up the machine, builds, and starts the dialog.
#   BUILD_DIR, BUILD_TYPE  as for build.sh
#   arguments              passed on to CMake's configure step (see build.sh)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh" "$@"
exec "${BUILD_DIR:-$top/build}/app/pellucor"

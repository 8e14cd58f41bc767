#!/usr/bin/env bash
# Sets up the machine, builds, and starts the dialog.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"
exec "${BUILD_DIR:-$top/build}/app/pellucor"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Tests only ever talk to 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --timeout 600

#!/usr/bin/env bash
# Builds the native connector and runs it in the foreground (Ctrl+C stops it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target glimmer-connector
exec build/native/src/glimmer-connector

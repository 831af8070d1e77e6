#!/usr/bin/env bash
# Times a conversion whose launcher exits at once against the launcher's own run (see
# launcher_exit_bench.py), on the Windows build under Wine, or with --native on the native build.
# Extra arguments go to the driver, e.g. --runs 51.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--native" ]; then
  shift
  cmake --preset native >/dev/null
  cmake --build --preset native --target glimmer-connector spine_stub
  exec flock /tmp/port27843.lock python3 bench/launcher_exit_bench.py \
    --program build/native/src/glimmer-connector --stub build/native/tests/support/spine-stub "$@"
fi
cmake --preset windows >/dev/null
cmake --build --preset windows --target glimmer-connector spine_stub
bash scripts/wine-prefix.sh
# The connector listens on the port the end-to-end suites use; wait for them to let go of it.
exec flock /tmp/port27843.lock bash scripts/with-xvfb.sh python3 bench/launcher_exit_bench.py \
  --program build/windows/src/glimmer-connector.exe \
  --stub build/windows/tests/support/spine-stub.exe --wine scripts/wine-run.sh "$@"

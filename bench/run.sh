#!/usr/bin/env bash
# Builds the release program and the test launcher, then times the largest conversion the limits
# accept (see convert_bench.py). Extra arguments go to the driver, e.g. --runs 9.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target glimmer-connector
# The release preset builds no tests, so the test launcher is compiled here on its own.
mkdir -p build/bench
g++ -std=c++20 -O2 -I tests -I src -o build/bench/spine-stub \
  tests/support/spine_stub.cpp tests/support/spine_stub_main_posix.cpp \
  tests/support/spine_stub_os_posix.cpp src/platform/text.cpp
exec python3 bench/convert_bench.py --program build/release/src/glimmer-connector \
  --stub build/bench/spine-stub "$@"

#!/usr/bin/env bash
# Builds the release program, the test launcher and the floor server, then measures what an idle
# connector costs before and after a burst (idle_bench.py), and times the largest conversion the
# limits accept against the floor, and health against nginx (convert_bench.py). Extra arguments go
# to convert_bench.py, e.g. --runs 9. With "soak" first, it runs the soak with faults instead
# (bench/soak.py).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target glimmer-connector
# The release preset builds no tests, so the test launcher is compiled here on its own.
mkdir -p build/bench
g++ -std=c++20 -O2 -I tests -I src -o build/bench/spine-stub \
  tests/support/spine_stub.cpp tests/support/spine_stub_main_posix.cpp \
  tests/support/spine_stub_os_posix.cpp src/platform/text.cpp
g++ -std=c++20 -O2 -o build/bench/floor-server bench/floor_server.cpp
# "bench/run.sh soak [--seconds N]": the soak with faults (bench/soak.py) on the release program.
if [ "${1:-}" = soak ]; then
  shift
  exec flock /tmp/port27843.lock /usr/bin/python3 bench/soak.py \
    --program build/release/src/glimmer-connector --stub build/bench/spine-stub "$@"
fi
# wrk drives the health rate and nginx is its yardstick; only the bench needs them.
missing=()
command -v wrk >/dev/null || missing+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || missing+=(nginx-light)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get install -y -qq "${missing[@]}" >/dev/null ||
      { apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null; } ||
      echo "could not install ${missing[*]}"
  else
    echo "not installed and this is not root: apt-get install ${missing[*]}"
  fi
fi
nginx=$(command -v nginx || { [ -x /usr/sbin/nginx ] && echo /usr/sbin/nginx; } || true)
# What an idle connector costs, fresh and after a burst (under the same port lock as below).
flock /tmp/port27843.lock /usr/bin/python3 bench/idle_bench.py \
  --program build/release/src/glimmer-connector --stub build/bench/spine-stub
# The connector listens on the port the end-to-end suites use; wait for them to let go of it.
# Debian's Python, as the suites use: the harness checks replies with its YAML and jsonschema.
exec flock /tmp/port27843.lock /usr/bin/python3 bench/convert_bench.py \
  --program build/release/src/glimmer-connector --stub build/bench/spine-stub \
  --floor build/bench/floor-server ${nginx:+--nginx "$nginx"} "$@"

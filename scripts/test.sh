#!/usr/bin/env bash
# Builds the native, sanitizer and Windows builds, and the Windows release program, and runs every
# test as one CTest suite (the release program gets its file checks and a smoke run under Wine).
# --quick: the native build and its unit tests only, for a fast loop while working.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${1:-}" = "--quick" ]; then
  shift
  cmake --preset native >/dev/null
  cmake --build --preset native
  exec ctest --test-dir build/native -j2 --output-on-failure -E 'e2e_' "$@"
fi
for preset in native native-asan windows windows-release; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
bash scripts/package.sh --verify  # the Windows package rebuilds bit for bit in another folder
bash scripts/wine-prefix.sh

# One suite over the four builds, so one summary line counts everything.
mkdir -p build/all
{
  for dir in native asan windows windows-release; do echo "subdirs(\"$PWD/build/$dir\")"; done
} > build/all/CTestTestfile.cmake
bash scripts/with-xvfb.sh ctest --test-dir build/all -j2 --output-on-failure "$@"

# A short run of every fuzz target (two at a time), so each change is fuzzed too.
echo "== fuzz"
bash scripts/fuzz.sh 15

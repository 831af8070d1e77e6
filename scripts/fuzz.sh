#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) and runs each for SECONDS (default 60), two at a time:
#   scripts/fuzz.sh [SECONDS [TARGET...]]   (TARGET as in tests/fuzz/TARGET_fuzz.cpp; default all)
# The committed seeds stay untouched: what a run learns goes to build/fuzz/corpus/<target>, which
# later runs continue from. Findings are kept in build/fuzz/findings/<target>/ (reproduce one with
# build/fuzz/tests/fuzz/<target>_fuzz <file>). Each input runs on a small stack; afterwards the
# corpus is replayed through the native build's plain replay program on 256 KiB, the bound the
# sanitized build cannot check. Exits non-zero when a target crashes, hangs, leaks or breaks an
# invariant, or a replay fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
parallel=2

cmake --preset fuzz >/dev/null
nice cmake --build --preset fuzz
cmake --preset native >/dev/null
nice cmake --build --preset native --target fuzz_replay_targets

root="$PWD/build/fuzz"
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for source in tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" _fuzz.cpp)")
  done
fi

# Request-sized inputs from the first run: the head alone may take 64 KiB, and faults of depth
# need long inputs, which libFuzzer's slowly growing length limit would reach late or never.
long_inputs=" http_request json convert_request route_handler "

run_target() {
  local name="$1"
  local lengths=()
  case "$long_inputs" in *" $name "*) lengths=(-max_len=131072 -len_control=0) ;; esac
  local work="$root/runs/$name"
  rm -rf "$work"
  mkdir -p "$work/found" "$root/corpus/$name" "$root/findings/$name"
  local status=0
  # Each target gets its own temporary folder, which the targets that write files check; in
  # memory where there is room, since inputs may make folders thousands of levels deep.
  local tmp
  tmp="$(mktemp -d /dev/shm/glimmer-fuzz-XXXXXX 2>/dev/null)" || { tmp="$work/tmp"; mkdir -p "$tmp"; }
  TMPDIR="$tmp" nice "$root/tests/fuzz/${name}_fuzz" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64 \
    -print_final_stats=1 -artifact_prefix="$work/found/" "${lengths[@]}" \
    "$root/corpus/$name" "tests/fuzz/corpus/$name" >"$work/log" 2>&1 || status=$?
  echo "$status" >"$work/status"
  local replayed=0
  TMPDIR="$tmp" "build/native/tests/fuzz_replay_$name" "$root/corpus/$name" \
    "tests/fuzz/corpus/$name" >"$work/replay.log" 2>&1 || replayed=$?
  echo "$replayed" >"$work/replay-status"
  rm -rf "$tmp"
  cp -f "$work/found/"* "$root/findings/$name/" 2>/dev/null || true
}

running=0
for name in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  echo "== fuzz: $name (${seconds}s)"
  run_target "$name" &
  running=$((running + 1))
done
wait || true

failed=0
printf '%-16s %12s %8s  %s\n' target executions findings result
for name in "${targets[@]}"; do
  work="$root/runs/$name"
  status="$(cat "$work/status" 2>/dev/null || echo missing)"
  replayed="$(cat "$work/replay-status" 2>/dev/null || echo missing)"
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)"
  findings="$(find "$work/found" -type f | wc -l)"
  if [ "$status" != 0 ]; then
    result="FAILED (exit $status, log $work/log)"
    failed=1
  elif [ "$replayed" != 0 ]; then
    result="FAILED on 256 KiB (replay exit $replayed, log $work/replay.log)"
    failed=1
  else
    result="ok, $(tail -1 "$work/replay.log")"
  fi
  printf '%-16s %12s %8s  %s\n' "$name" "${executions:-?}" "$findings" "$result"
  if [ "$status" != 0 ]; then
    grep -aE 'invariant violated|ERROR: |SUMMARY: |Test unit written to' "$work/log" | head -5 | cat -v | sed 's/^/    /'
  fi
done
exit "$failed"

#!/usr/bin/env bash
# Builds the Windows connector, runs it under Wine on a private X server with Chinese fonts and
# saves PNGs of its window into screenshots/: Spine ready, Spine not found (with the path group),
# disconnected (after a click on the toggle), and started while another program holds the port;
# each at 96 DPI and, from a second Wine prefix set to 144 DPI (150 %), as *-144dpi.png.
# Port 27843 must be free while it runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if [ "${GLIMMER_SCREENSHOT_STAGE:-}" != capture ]; then
  bash scripts/install-deps.sh
  build="${GLIMMER_WINDOWS_BUILD:-build/windows}"
  cmake --preset windows -B "$build" >/dev/null
  cmake --build "$build" --target glimmer-connector
  bash scripts/wine-prefix.sh
  # Wine takes the system DPI from the registry (LogPixels); a prefix of its own keeps the
  # tests' prefix at 96.
  export GLIMMER_PREFIX_144="${WINEPREFIX:-$HOME/.wine-glimmer}-144dpi"
  WINEPREFIX="$GLIMMER_PREFIX_144" bash scripts/wine-prefix.sh
  reg="$(mktemp --suffix=.reg)"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:00000090\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]\r\n"LogPixels"=dword:00000090\r\n' > "$reg"
  WINEPREFIX="$GLIMMER_PREFIX_144" WINEDEBUG=-all /usr/lib/wine/wine64 regedit "$(WINEPREFIX="$GLIMMER_PREFIX_144" /usr/lib/wine/wine64 winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
  WINEPREFIX="$GLIMMER_PREFIX_144" /usr/lib/wine/wineserver -w
  rm -f "$reg"
  export GLIMMER_SCREENSHOT_STAGE=capture GLIMMER_EXE="$root/$build/src/glimmer-connector.exe"
  exec bash scripts/with-xvfb.sh bash "$0"
fi

# --- from here on: inside the private X server ---
if (exec 3<>/dev/tcp/127.0.0.1/27843) 2>/dev/null; then
  echo "port 27843 is in use; stop whatever listens there first" >&2
  exit 1
fi

out="$root/screenshots"
mkdir -p "$out"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

windowsPath() { printf 'Z:%s' "${1//\//\\}"; }

# A private settings file, and a file the locator accepts as Spine's launcher.
export SPINE_CONNECTOR_CONFIG="$(windowsPath "$work/config.json")"
touch "$work/Spine.com"
spine="$(windowsPath "$work/Spine.com")"

window_ids() { xdotool search --name 'Glimmer' 2>/dev/null | sort || true; }

# start <SPINE_EXECUTABLE value or empty>: runs one connector; sets $pid and $window.
start() {
  local before
  before="$(window_ids)"
  if [ -n "$1" ]; then
    SPINE_EXECUTABLE="$1" bash scripts/wine-run.sh "$GLIMMER_EXE" &
  else
    env -u SPINE_EXECUTABLE bash scripts/wine-run.sh "$GLIMMER_EXE" &
  fi
  pid=$!
  pids+=("$pid")
  window=""
  for _ in $(seq 150); do
    window="$(comm -13 <(echo "$before") <(window_ids) | head -n 1)"
    [ -n "$window" ] && break
    sleep 0.2
  done
  if [ -z "$window" ]; then
    echo "the connector window did not appear" >&2
    exit 1
  fi
  sleep 1.5  # let it paint
}

stop() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  sleep 0.5
}

shoot() {
  import -window "$window" "$out/$1$suffix.png"
  echo "wrote screenshots/$1$suffix.png"
}

# capture <dpi>: the four pictures at that DPI (the prefix in WINEPREFIX must be set to it).
capture() {
  local dpi=$1
  suffix=""
  [ "$dpi" = 96 ] || suffix="-${dpi}dpi"
  start "$spine"
  shoot spine-ready
  # The toggle sits at (460, 265) with size 130 x 36 in the client area, in 96-DPI units.
  xdotool mousemove --window "$window" $((525 * dpi / 96)) $((283 * dpi / 96)) click 1
  sleep 1.5
  xdotool mousemove --window "$window" 10 10  # move off the button so it is drawn unpressed
  sleep 0.5
  shoot disconnected
  stop "$pid"

  start ""
  shoot spine-not-found
  stop "$pid"

  start "$spine"
  holder=$pid
  start "$spine"
  shoot port-held
  stop "$pid"
  stop "$holder"
}

capture 96
export WINEPREFIX="$GLIMMER_PREFIX_144"
capture 144

#!/usr/bin/env bash
# Creates the private Wine prefix once and maps "Segoe UI" to a font with Chinese glyphs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-glimmer}"
if [ ! -f "$WINEPREFIX/.glimmer-ready" ]; then
  echo "creating Wine prefix $WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  reg="$(mktemp --suffix=.reg)"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Segoe UI"="WenQuanYi Micro Hei"\r\n' > "$reg"
  /usr/lib/wine/wine64 regedit "$(/usr/lib/wine/wine64 winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
  rm -f "$reg"
  /usr/lib/wine/wineserver -w
  touch "$WINEPREFIX/.glimmer-ready"
fi

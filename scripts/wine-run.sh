#!/usr/bin/env bash
# Runs a Windows program under Wine with a quiet, private prefix (no Mono/Gecko prompts).
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-glimmer}"
export DISPLAY="${DISPLAY:-:99}"
exec /usr/lib/wine/wine64 "$@"

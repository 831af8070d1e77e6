#!/usr/bin/env bash
# Runs a Windows program under Wine with a quiet, private prefix.
export WINEDEBUG=-all
# No Mono/Gecko prompts, and no debugger: a crash ends the program at once instead of hanging a test.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-glimmer}"
export DISPLAY="${DISPLAY:-:99}"
exec /usr/lib/wine/wine64 "$@"

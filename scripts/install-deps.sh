#!/usr/bin/env bash
# Installs the build and test tools with apt-get, only when something is missing.
set -euo pipefail
packages=(cmake ninja-build g++ googletest g++-mingw-w64-x86-64-posix wine64 xvfb xauth python3-pefile
          fonts-wqy-microhei curl wget nodejs unzip python3 x11-apps imagemagick xdotool wrk
          chromium chromium-driver python3-selenium clang libclang-rt-14-dev python3-jsonschema python3-yaml)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

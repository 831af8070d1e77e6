#!/usr/bin/env bash
# Builds the Windows release (preset windows-release) and packs what a user downloads:
# dist/glimmer-connector-<version>-windows-x64.zip with the .exe and a Chinese read-me, and its
# SHA-256 beside it. The version is the CMake project version.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release --target glimmer-connector

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-release/CMakeCache.txt)"
[ -n "$version" ] || { echo "no project version in build/windows-release" >&2; exit 1; }
name="glimmer-connector-${version}-windows-x64"
mkdir -p dist
rm -f "dist/$name.zip" "dist/$name.zip.sha256"

# The read-me with Windows line ends and a byte-order mark, so every Notepad shows it as UTF-8.
/usr/bin/python3 - "$version" "dist/$name.zip" <<'PY'
import sys, zipfile
version, target = sys.argv[1], sys.argv[2]
with open("cmake/package-readme.zh.txt", encoding="utf-8") as template:
    readme = template.read().replace("@VERSION@", version).replace("\n", "\r\n")
with open("build/windows-release/src/glimmer-connector.exe", "rb") as program:
    exe = program.read()
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in (("glimmer-connector.exe", exe), ("说明.txt", b"\xef\xbb\xbf" + readme.encode("utf-8"))):
        info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        archive.writestr(info, data)
PY
(cd dist && sha256sum "$name.zip" > "$name.zip.sha256")
echo "wrote dist/$name.zip"
cat "dist/$name.zip.sha256"

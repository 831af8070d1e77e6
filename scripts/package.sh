#!/usr/bin/env bash
# Builds the Windows release (preset windows-release) and packs what a user downloads:
# dist/glimmer-connector-<version>-windows-x64.zip with the .exe and a Chinese read-me, its
# SHA-256 beside it, and beside that the commit and toolchain it was built with (.build.txt), so
# anyone can rebuild it and compare. The version is the CMake project version.
#
#   --verify  builds the same sources a second time in a temporary folder (another absolute path,
#             another time) and fails, naming the first differing file, unless both builds give
#             the same .exe and the same package byte for byte.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
verify=0
case "$#:${1:-}" in
  0:) ;;
  1:--verify) verify=1 ;;
  *) echo "usage: bash scripts/package.sh [--verify]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh

exe=build/windows-release/src/glimmer-connector.exe

# build TREE: the release program of the checkout at TREE.
build() {
  (cd "$1" && cmake --preset windows-release >/dev/null &&
    cmake --build --preset windows-release --target glimmer-connector)
}

# pack TREE ZIP: the package of TREE's release program. The read-me gets Windows line ends and a
# byte-order mark, so every Notepad shows it as UTF-8. Every field that zipfile would take from the
# host or the clock is set here.
pack() {
  /usr/bin/python3 - "$version" "$1/cmake/package-readme.zh.txt" "$1/$exe" "$2" <<'PY'
import sys, zipfile
version, template_path, exe_path, target = sys.argv[1:]
with open(template_path, encoding="utf-8") as template:
    readme = template.read().replace("@VERSION@", version).replace("\n", "\r\n")
with open(exe_path, "rb") as program:
    exe = program.read()
with zipfile.ZipFile(target, "w") as archive:
    readme_bytes = b"\xef\xbb\xbf" + readme.encode("utf-8")
    for name, data in (("glimmer-connector.exe", exe), ("说明.txt", readme_bytes)):
        info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3  # Unix, whose mode below the unpacker reads
        info.external_attr = 0o644 << 16
        archive.writestr(info, data, compresslevel=9)
PY
}

# The Debian packages whose versions decide the bytes: compiler, C++ and C runtime libraries,
# assembler, linker and resource compiler, build tools, and the packer with its Deflate.
toolchain=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime mingw-w64-x86-64-dev
           binutils-mingw-w64-x86-64 cmake ninja-build python3 zlib1g)

build "$root"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-release/CMakeCache.txt)"
[ -n "$version" ] || { echo "no project version in build/windows-release" >&2; exit 1; }
name="glimmer-connector-${version}-windows-x64"
mkdir -p dist
rm -f "dist/$name.zip" "dist/$name.zip.sha256" "dist/$name.build.txt"
pack "$root" "dist/$name.zip"
(cd dist && sha256sum "$name.zip" > "$name.zip.sha256")

commit="$(git rev-parse HEAD 2>/dev/null || echo "unknown (not a git checkout)")"
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  commit="$commit, with uncommitted changes"
fi
{
  echo "package: $name.zip"
  echo "sha256:  $(cut -d' ' -f1 "dist/$name.zip.sha256")"
  echo "commit:  $commit"
  echo "system:  $(. /etc/os-release && echo "$PRETTY_NAME") $(dpkg --print-architecture)"
  echo "command: bash scripts/package.sh"
  echo "toolchain (Debian packages):"
  dpkg-query -W -f='  ${Package} ${Version}\n' "${toolchain[@]}"
} > "dist/$name.build.txt"
echo "wrote dist/$name.zip"
cat "dist/$name.zip.sha256"

[ "$verify" = 1 ] || exit 0

# The second build: a copy of the sources (build output, packages and Git data left out) under a
# new absolute path, configured with the same preset, at a later time.
again="$(mktemp -d "${TMPDIR:-/tmp}/glimmer-verify.XXXXXX")"
trap 'rm -rf "$again"' EXIT
mkdir "$again/src"
tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
  tar -C "$again/src" -xf -
echo "== verify: building again in $again/src"
build "$again/src"
pack "$again/src" "$again/$name.zip"

# differ FILE A B: says where A and B first differ; inside the .exe, which header field or section.
differ() {
  trap - EXIT  # the second build stays for inspection
  echo "not reproducible: $1 differs between $2 and $3" >&2
  cmp "$2" "$3" >&2 || true
  case "$1" in
    *.exe)
      /usr/bin/python3 - "$2" "$3" >&2 <<'PY' || true
import sys, pefile
first, second = (open(path, "rb").read() for path in sys.argv[1:])
offset = next((i for i, (a, b) in enumerate(zip(first, second)) if a != b),
              min(len(first), len(second)))
pe = pefile.PE(data=first)
for structure in pe.__structures__:
    start = structure.get_file_offset()
    if start <= offset < start + structure.sizeof():
        fields = [name for name, at in structure.__field_offsets__.items() if start + at <= offset]
        field = max(fields, key=lambda name: structure.__field_offsets__[name], default="?")
        print(f"offset {offset:#x}: {structure.name} {field}")
        break
else:
    section = pe.get_section_by_offset(offset)
    where = section.Name.rstrip(b"\0").decode() if section else "no section"
    print(f"offset {offset:#x}: in {where}")
PY
      # The objects that differ tell which source (or flag) brings the difference in.
      (cd build/windows-release && find . -name '*.obj' -o -name '*.res') | sort |
      while read -r object; do
        cmp -s "$root/build/windows-release/$object" "$again/src/build/windows-release/$object" ||
          echo "object differs: $object" >&2
      done
      ;;
  esac
  echo "the second build is kept in $again" >&2
  exit 1
}
cmp -s "$exe" "$again/src/$exe" || differ glimmer-connector.exe "$root/$exe" "$again/src/$exe"
cmp -s "dist/$name.zip" "$again/$name.zip" ||
  differ "$name.zip" "$root/dist/$name.zip" "$again/$name.zip"
echo "reproducible: glimmer-connector.exe and $name.zip are the same byte for byte when built again"

#!/usr/bin/env bash
# Packs the Windows programs with their README (tools/windows-README.txt: what a Windows
# user needs, not the developers' README.md) and the manual pages as text into
# BUILD/diskwarden-VERSION-windows-x64.zip. Text files get Windows line ends.
#
# Usage: tools/windows-package.sh BUILD PROGRAM...
# Each PROGRAM is packed when BUILD/bin/PROGRAM.exe exists; the manual page of each
# packed program goes with it.
set -euo pipefail
build=$(realpath "$1")
shift
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project([a-z]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name="diskwarden-$version-windows-x64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"

crlf() { sed 's/\r\?$/\r/' "$1" >"$2"; }

packed=()
for program in "$@"; do
  exe="$build/bin/$program.exe"
  [ -f "$exe" ] || continue
  x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$exe"
  page="$root/man/$program.1.in"
  if [ -f "$page" ]; then
    # Plain text: no overstriking, no escape sequences, 80 columns.
    sed "s/@PROJECT_VERSION@/$version/g" "$page" |
      LC_ALL=C.UTF-8 MANWIDTH=80 groff -man -Tascii -P-cbou -rLL=78n >"$stage/$program.tmp"
    crlf "$stage/$program.tmp" "$stage/$program.txt"
    rm "$stage/$program.tmp"
  fi
  packed+=("$program")
done
[ "${#packed[@]}" -gt 0 ] || { echo "no Windows program in $build/bin" >&2; exit 1; }
sed "s/@PROJECT_VERSION@/$version/g" "$root/tools/windows-README.txt" >"$stage/README.tmp"
crlf "$stage/README.tmp" "$stage/README.txt"
rm "$stage/README.tmp"

zip_file="$build/$name.zip"
rm -f "$zip_file"
(cd "$build/package" && zip -q -r -X "$zip_file" "$name")
echo "$zip_file: ${packed[*]}, README and manual pages"

#!/usr/bin/env bash
# Cross-builds libdvbpsi for 64-bit Windows from Debian's own source package of it, into
# PREFIX (inside the Windows build folder, never the repository). A finished build is kept
# and reused: the stamp names the source version it was built from.
#
# Usage: tools/build-dvbpsi-windows.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")
host=x86_64-w64-mingw32
work="$prefix/source"
stamp="$prefix/.built"

if [ -f "$stamp" ] && [ -f "$prefix/lib/libdvbpsi.a" ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# apt-get source needs the source index of the archive the binary packages come from:
# enable its deb-src entries (deb822 files get "deb-src" added to their Types; one-line
# lists get a deb-src line beside each deb line), then read the new index once.
enable_sources() {
  apt-cache showsrc libdvbpsi 2>/dev/null | grep -q '^Package: libdvbpsi' && return 0
  echo "Enabling the source entries of the Debian archive"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -q 'debian' "$f" || continue
    $SUDO sed -i -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    grep -q '^deb .*debian' "$f" || continue
    grep -q '^deb-src ' "$f" && continue
    grep '^deb .*debian' "$f" | sed 's/^deb /deb-src /' | $SUDO tee -a "$f" >/dev/null
  done
  $SUDO apt-get update -qq
}

enable_sources
rm -rf "$work"
mkdir -p "$work"
(
  cd "$work"
  # Unsandboxed as root: apt's sandbox user cannot write into this folder.
  apt-get source -qq libdvbpsi 2>&1 | grep -v -e 'unsandboxed' -e 'gpgv' -e 'signature' || true
)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libdvbpsi-*' | head -n1)
[ -n "$src" ] || { echo "apt-get source libdvbpsi gave no source tree" >&2; exit 1; }

echo "Cross-building libdvbpsi ($(basename "$src")) for $host"
log="$prefix/build.log"
trap 'echo "libdvbpsi cross-build failed; the end of $log:" >&2; tail -n 30 "$log" >&2' ERR
(
  cd "$src"
  [ -x configure ] || autoreconf -fi >/dev/null
  ./configure -q --host="$host" --prefix="$prefix" --enable-static --disable-shared \
    CFLAGS="-O2" >"$log" 2>&1
  make -s -j "${JOBS:-2}" -C src >>"$log" 2>&1
  make -s -C src install >>"$log" 2>&1
  mkdir -p "$prefix/lib/pkgconfig"
  [ -f libdvbpsi.pc ] && cp libdvbpsi.pc "$prefix/lib/pkgconfig/"
)
[ -f "$prefix/lib/libdvbpsi.a" ] || { echo "libdvbpsi.a was not built" >&2; exit 1; }
basename "$src" >"$stamp"

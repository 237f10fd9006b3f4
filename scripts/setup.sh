#!/usr/bin/env bash
# Brings a fresh Debian 12 machine to the point where every preset builds and every test runs.
# Idempotent: a second run installs nothing and fetches nothing.
set -euo pipefail

DEPS_DIR=${QRV_DEPS_DIR:-/opt/qrvkbx-deps}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 fonts-wine fonts-ipafont-gothic xvfb xauth xdotool imagemagick
  googletest libtiff-tools libtiff-dev jbigkit-bin libjbig-dev netpbm libvips-tools libpng-dev pkg-config
  libpugixml-dev libcpp-httplib-dev libbenchmark-dev dpkg-dev
  wixl msitools
)

# 32-bit Wine runs the x86 builds; its package installs whether or not this kernel can run 32-bit
# programs (the test command checks that separately and says so when it cannot).
FOREIGN_PACKAGES=(wine32:i386)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
PACKAGES+=("${FOREIGN_PACKAGES[@]}")

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The Windows builds compile JBIG-KIT and pugixml from Debian's own source packages.
src_list=/etc/apt/sources.list.d/qrvkbx-src.sources
if [ ! -f "$src_list" ]; then
  $SUDO tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

fetch_source() {   # package, folder name it unpacks to
  [ -d "$DEPS_DIR/$2" ] && return 0
  $SUDO mkdir -p "$DEPS_DIR"
  local tmp; tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source -qq "$1" >/dev/null 2>&1)
  $SUDO mv "$tmp/$2" "$DEPS_DIR/$2"
  rm -rf "$tmp"
}
fetch_source jbigkit jbigkit-2.1
fetch_source pugixml pugixml-1.13

echo "setup: ready (sources in $DEPS_DIR)"

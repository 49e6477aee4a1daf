#!/usr/bin/env bash
# Installs every Debian package that building and testing Kelto2 need.
# Idempotent: a second run only confirms what is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  dpkg-dev quilt
  clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  libz-mingw-w64-dev
  googletest libgtest-dev
  libpng-dev zlib1g-dev libjpeg62-turbo-dev
  libssl-dev openssl osslsigncode
  wine wine64 xvfb xauth x11-utils imagemagick fonts-wqy-microhei locales
  python3 python3-pytest
  nginx-light
  nsis
)

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# apt-get source needs the source indexes next to the binary ones.
src_list=/etc/apt/sources.list.d/kelto2-src.sources
if [ ! -f "$src_list" ]; then
  sudo_ tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  stale=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ] || [ -n "${stale:-}" ] || [ ! -d /var/lib/apt/lists ] || \
   ! ls /var/lib/apt/lists/*Sources* >/dev/null 2>&1; then
  sudo_ apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A Chinese UTF-8 locale makes Wine pick code page 936 as the ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  sudo_ sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || sudo_ sed -i 's/^# *en_US.UTF-8 UTF-8/en_US.UTF-8 UTF-8/' /etc/locale.gen
  sudo_ locale-gen >/dev/null
fi

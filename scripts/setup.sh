#!/usr/bin/env bash
# Installs the Debian packages the launcher's builds, tests and demo need
# (only those missing), on Debian 12.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config git python3
  libgtk-3-dev libwebkit2gtk-4.1-dev libcurl4-openssl-dev libgcrypt20-dev libgtest-dev googletest
  g++-mingw-w64-x86-64-posix mingw-w64-tools libgcrypt-mingw-w64-dev wine64
  xvfb xauth xdotool x11-utils imagemagick 7zip fonts-wqy-zenhei fonts-wqy-microhei fontconfig openssl osslsigncode curl libglib2.0-bin
  glib-networking gsettings-desktop-schemas libproxy1-plugin-webkit dbus-daemon
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

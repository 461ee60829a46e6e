#!/usr/bin/env bash
# Installs every Debian package the project needs that is missing.
# Run as root (or with sudo available) on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev libasound2-dev
  libespeak-ng-dev espeak-ng-data
  sox libsoxr-dev libbz2-dev unicode-data golang-github-mozillazg-go-pinyin-dev
  liblua5.4-dev libcairo2-dev fonts-wqy-microhei
  g++-mingw-w64-x86-64 mingw-w64-tools
  g++-mingw-w64-i686 wine64-tools
  wine wine64 wine32:i386 locales zip
  clang libclang-rt-14-dev python3
  alsa-utils
  libsqlite3-dev libmicrohttpd-dev chromium
  libre-dev libspandsp-dev sip-tester baresip-core
)

# wine32 comes from Debian's i386 packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Wine tests run with LC_ALL=zh_CN.UTF-8, so that the ANSI code page is 936.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

#!/usr/bin/env bash
# Installs what building and testing Mokavi needs on Debian/Ubuntu.
# Safe to run repeatedly: does nothing when everything is present.
#   libedit-dev          line editing in the interactive mokavi
#   python3              the ctypes example and the command's tests
#   dpkg-dev, file       CPack's .deb with its computed dependencies
#   gcc-mingw-w64-i686   the 32-bit Windows declaration check
#   valgrind             memcheck of the API tests in CI
set -euo pipefail

packages=(cmake make g++ pkg-config libperl-dev libgtest-dev libicu-dev libedit-dev
          python3 dpkg-dev file gcc-mingw-w64-i686 valgrind)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs what building and testing Mokavi needs on Debian/Ubuntu.
# Safe to run repeatedly: does nothing when everything is present.
set -euo pipefail

packages=(cmake make g++ pkg-config libperl-dev libgtest-dev libicu-dev valgrind)

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

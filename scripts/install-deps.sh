#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; installs nothing when all are there.
set -euo pipefail

packages=(
    cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine64 xvfb x11-utils fonts-nanum googletest imagemagick file clang-format
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

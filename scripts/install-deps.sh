#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's archive, only when
# something is missing. Non-interactive; safe to run again.
set -euo pipefail
PACKAGES=(
    cmake make g++ libgtest-dev libbenchmark-dev libpng-dev libjpeg62-turbo-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest
    wine64 python3-unicorn
    clang libclang-rt-14-dev llvm
)
missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

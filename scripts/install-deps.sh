#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that are missing.
# Usage: install-deps.sh build|test|package
set -euo pipefail

build_packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev
    qt6-qpa-plugins libqt6svg6 libxcb1-dev libhamlib-dev
)
test_packages=(
    xvfb openbox x11-utils xdotool
    python3 python3-serial ser2net openssl socat libhamlib-utils
    clang libclang-rt-dev
    # the package test: CPack's library dependencies, the AppStream check
    dpkg-dev file appstream
)
package_packages=(
    dpkg-dev file lintian appstream
)

packages=("${build_packages[@]}")
case "${1:-build}" in
test) packages+=("${test_packages[@]}") ;;
package) packages+=("${package_packages[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that are missing.
# Usage: install-deps.sh build|test|package
set -euo pipefail

build_packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev
    qt6-qpa-plugins libqt6svg6 libxcb1-dev libhamlib-dev libcanberra-dev
    libmosquitto-dev
)
test_packages=(
    xvfb openbox x11-utils xdotool
    python3 python3-serial ser2net openssl socat libhamlib-utils
    clang libclang-rt-dev
    mosquitto mosquitto-clients
)
# The package test's tools: CPack's library dependencies, the AppStream
# check. Without them that test is left out, so for "test" they are tried
# after the rest and may fail.
package_test_packages=(dpkg-dev file appstream)
package_packages=("${package_test_packages[@]}" lintian)

# Installs those of the packages given that are missing.
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ -z "${updated:-}" ]; then
        $sudo apt-get update -qq
        updated=1
    fi
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
case "${1:-build}" in
build) install_missing "${build_packages[@]}" ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    install_missing "${package_test_packages[@]}" \
        || echo "install-deps.sh: the package test's tools could not be installed; that test is left out" >&2
    ;;
package) install_missing "${build_packages[@]}" "${package_packages[@]}" ;;
*) echo "Usage: install-deps.sh build|test|package" >&2; exit 2 ;;
esac

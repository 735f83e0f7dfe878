#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages the build and the tests need, when missing.
# Sourced by the run and test commands; safe to run again.
set -euo pipefail

KEL2CIFS_PACKAGES=(
    g++ cmake ninja-build pkg-config
    googletest libgtest-dev libgmock-dev
    gettext
    nlohmann-json3-dev
    libmicrohttpd-dev libcrypt-dev libcurl4-openssl-dev
)

kel2cifs_install_missing() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

kel2cifs_install_missing "${KEL2CIFS_PACKAGES[@]}"

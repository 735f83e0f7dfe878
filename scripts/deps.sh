#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages the build and the tests need, when missing.
# Sourced by the run and test commands; safe to run again. With KEL2CIFS_DEPS_BUILD_ONLY=1 the
# browser test's and the package test's packages are left out (the run command needs none of
# them).
set -euo pipefail

# cracklib-runtime: the dictionary libpwquality checks passwords against, which its packages only
# recommend (and recommendations are not installed here). libgnutls28-dev: the certificate's host
# names; openssl: the TLS tests' client and their self-signed certificates. locales-all: the
# compiled de_DE.UTF-8 and fr_FR.UTF-8 locales, without which glibc cannot give a request thread
# a German or French message locale (the console then writes English pages). scdoc: the manual
# pages (packaging/man). libsqlite3-dev: the console's audit trail. ctdb, iproute2, python3: the
# cluster test's three CTDB nodes in network namespaces (scripts/ctdb-cluster) and its driver.
KEL2CIFS_PACKAGES=(
    g++ cmake ninja-build pkg-config
    googletest libgtest-dev libgmock-dev
    gettext locales-all
    nlohmann-json3-dev
    libmicrohttpd-dev libcrypt-dev libpwquality-dev cracklib-runtime libcurl4-openssl-dev
    libgnutls28-dev openssl libsqlite3-dev
    wrk curl
    samba smbclient ctdb iproute2 python3
    clang libclang-rt-14-dev clang-format
    scdoc
)
# The package test (tests/package/run): cpack's dependency list (dpkg-shlibdeps of dpkg-dev,
# file), lintian, systemd-analyze (systemd), logrotate, man (man-db) and the page checker's
# Python.
KEL2CIFS_PACKAGE_TEST_PACKAGES=(dpkg-dev file lintian systemd logrotate man-db python3)
# The browser test (tests/browser): Chromium with a font for its screenshots, driven from
# Node.js.
KEL2CIFS_BROWSER_PACKAGES=(chromium fonts-dejavu-core nodejs npm)

# True when the package, or what it provides, is there. Node.js and npm count when their
# commands are on the PATH: a Node.js built elsewhere brings its own npm and conflicts with
# Debian's npm package.
kel2cifs_have() {
    case "$1" in
        nodejs) command -v node > /dev/null 2>&1 ;;
        npm) command -v npm > /dev/null 2>&1 ;;
        chromium) [ -x /usr/bin/chromium ] ;;
        *) dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" ;;
    esac
}

kel2cifs_install_missing() {
    local missing=()
    local package
    for package in "$@"; do
        if ! kel2cifs_have "$package"; then
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

if [ "${KEL2CIFS_DEPS_BUILD_ONLY:-0}" = 1 ]; then
    kel2cifs_install_missing "${KEL2CIFS_PACKAGES[@]}"
else
    kel2cifs_install_missing "${KEL2CIFS_PACKAGES[@]}" "${KEL2CIFS_BROWSER_PACKAGES[@]}" \
        "${KEL2CIFS_PACKAGE_TEST_PACKAGES[@]}"
fi

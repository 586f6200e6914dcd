#!/usr/bin/env bash
# Installs what building, running and testing zelUpdate needs on Debian 12 and Debian 13, with
# Qt 5 and with Qt 6.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config # the build
    qtbase5-dev libhidapi-dev nettle-dev         # the program
    zlib1g-dev                                   # the program: gzip-compressed recordings
    qt6-base-dev                                 # the program with Qt 6
    libbenchmark-dev                             # benchmarks
    clang                                        # the HEX loader's fuzzer, with libFuzzer below
    binutils srecord                             # the loader's reference converters
    umockdev                                     # the real hidapi against an emulated hidraw node
    dpkg-dev file                                # the Debian package (dpkg-shlibdeps)
    lintian desktop-file-utils appstream         # the package's reviewers
    udev xvfb xauth x11-utils                    # the package's udev rule and first run
    librsvg2-bin                                 # tools/make-icons.sh
)

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
update_once() {
    [ -n "${updated:-}" ] || "${sudo[@]}" apt-get update -q
    updated=1
}
install_missing() {
    local missing=() package
    for package in "$@"; do
        installed "$package" || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        update_once
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
}

install_missing "${packages[@]}"
# libFuzzer's runtime: the package that follows the default clang where Debian has one, else the
# one of the clang installed.
if ! installed libclang-rt-dev; then
    update_once
    if apt-cache show libclang-rt-dev >/dev/null 2>&1; then
        install_missing libclang-rt-dev
    else
        install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
    fi
fi

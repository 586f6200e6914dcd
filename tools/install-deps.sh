#!/usr/bin/env bash
# Installs what building, running and testing zelUpdate needs on Debian 12.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config # the build
    qtbase5-dev libhidapi-dev nettle-dev         # the program
    libbenchmark-dev                             # benchmarks
    clang libclang-rt-14-dev                     # the HEX loader's fuzzer
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
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

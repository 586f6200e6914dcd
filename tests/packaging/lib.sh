# shellcheck shell=bash
# Shared by the package tests, sourced with the environment that tests/packaging/CMakeLists.txt
# sets: ZEL_BUILD_DIR (where CPack wrote the package), ZEL_VERSION, ZEL_SOURCE_DIR and ZEL_CLI
# (1 when the build has zelupdate-cli); its arguments are the built executables that the package
# must be newer than. A script that sets private_mounts=1 before
# sourcing runs in a mount namespace of its own, where it may mount scratch folders over /run,
# /dev and /etc/udev/rules.d without touching the machine's.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Covers /dev with an empty one holding only what umockdev-run and the tools need, so that
# nothing they create there reaches the machine's /dev. Needs private_mounts=1.
zel_private_dev() {
    mkdir "$scratch/dev"
    mount --rbind /dev "$scratch/dev"
    mount -t tmpfs tmpfs /dev
    for node in null zero random urandom; do
        touch "/dev/$node"
        mount --bind "$scratch/dev/$node" "/dev/$node"
    done
    umount --lazy "$scratch/dev"
    mkdir /dev/pts
    mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts
    ln -s pts/ptmx /dev/ptmx
}

# Finds the package the build made, $deb, and refuses one older than the executables it holds.
zel_package() {
    deb=$(compgen -G "$ZEL_BUILD_DIR/zelupdate_${ZEL_VERSION}_*.deb" || true)
    [ -n "$deb" ] || fail "no zelupdate_${ZEL_VERSION}_*.deb in $ZEL_BUILD_DIR:" \
        "cmake --build $ZEL_BUILD_DIR --target package"
    [ "$(wc -l <<<"$deb")" -eq 1 ] || fail "more than one package of $ZEL_VERSION: $deb"
    local binary
    for binary in "${binaries[@]}"; do
        [ "$deb" -nt "$binary" ] || fail "$deb is older than $binary:" \
            "cmake --build $ZEL_BUILD_DIR --target package"
    done
}

# Unpacks the package: its files into $root, its control files into $scratch/DEBIAN.
zel_unpack() {
    zel_package
    dpkg-deb --extract "$deb" "$root"
    dpkg-deb --control "$deb" "$scratch/DEBIAN"
}

binaries=("$@")

# Root needs only the namespace; another user gets one inside a user namespace where they are
# root. The script starts again in there, before it makes its scratch folder. Where no such
# namespace can be had (a chroot whose root is no mount point, a container that forbids it), the
# test cannot run: it says why and exits with 77, which CTest counts as skipped.
if [ "${private_mounts:-}" = 1 ] && [ "${ZEL_PRIVATE_MOUNTS:-}" != 1 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(--user --map-root-user)
    if ! refusal=$(unshare "${as_root[@]}" --mount --propagation private true 2>&1); then
        echo "SKIPPED: no mount namespace of its own here, for its scratch /run, /dev and" \
            "/etc/udev/rules.d ($refusal)"
        exit 77
    fi
    ZEL_PRIVATE_MOUNTS=1 exec unshare "${as_root[@]}" --mount --propagation private \
        bash "$0" "$@"
fi

scratch=$(mktemp -d)
# --one-file-system: never follow a mount that is still in the scratch folder.
trap 'rm -rf --one-file-system "$scratch"' EXIT
root=$scratch/root

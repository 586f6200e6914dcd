#!/usr/bin/env bash
# Runs the README's two commands as a newcomer would on a fresh Debian system of the given release:
# makes a minimal system with debootstrap, clones this repository's committed HEAD into it, and
# runs tools/test.sh there, then tools/demo.sh until its window is up (offscreen), then installs
# the Qt 6 build's package and runs its programs. Uncommitted changes are not tested. Needs root
# (it asks sudo otherwise), debootstrap and the release's archive keys (debian-archive-keyring),
# and Debian's archive on the network.
#
#   tools/test-on-debian.sh RELEASE          e.g. bookworm (Debian 12) or trixie (Debian 13)
#
# The system is made anew at each run in $ZELUPDATE_DEBIAN_DIR/RELEASE (default
# /var/tmp/zelupdate-debian/RELEASE); the packages it downloads are kept beside it for the next
# run, and its output goes to RELEASE.log there too. ZELUPDATE_DEBIAN_MIRROR names another archive
# than deb.debian.org. The chroot's root is no mount point, so no test in it can make its own mounts
# private: the tests that need a mount namespace say so and are skipped. Every mount lives in a
# mount namespace of this script's own, so nothing stays mounted when it ends, however it ends.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 RELEASE   (bookworm, trixie, ...)" >&2
    exit 2
fi
release=$1
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=ZELUPDATE_DEBIAN_DIR,ZELUPDATE_DEBIAN_MIRROR "$0" "$@"
fi
if [ "${ZELUPDATE_DEBIAN_NAMESPACE:-}" != 1 ]; then
    ZELUPDATE_DEBIAN_NAMESPACE=1 exec unshare --mount --propagation private "$0" "$@"
fi

# Bash reads a script as it runs it: with the whole run in one function, read before it starts,
# an edit of this file during a run cannot change that run.
main() {
    repo=$(cd "$(dirname "$0")/.." && pwd)
    commit=$(git -C "$repo" rev-parse HEAD)
    branch=$(git -C "$repo" symbolic-ref --quiet --short HEAD || true)
    git_dir=$(cd "$repo" && cd "$(git rev-parse --git-common-dir)" && pwd)
    if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
        echo "$0: uncommitted changes are not tested, only $commit" >&2
    fi
    command -v debootstrap >/dev/null || { echo "$0: apt-get install debootstrap" >&2; exit 1; }

    dir=${ZELUPDATE_DEBIAN_DIR:-/var/tmp/zelupdate-debian}
    mirror=${ZELUPDATE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
    system=$dir/$release
    cache=$dir/cache/$release
    log=$dir/$release.log
    mkdir -p "$dir" "$cache/debootstrap" "$cache/apt"
    rm -rf --one-file-system "$system"
    exec > >(tee "$log") 2>&1

    seconds() { echo $(($(date +%s) - $1)); }
    started=$(date +%s)
    echo "== $release: a minimal system in $system"
    debootstrap --variant=minbase --include=git,ca-certificates --cache-dir="$cache/debootstrap" \
        "$release" "$system" "$mirror"
    # What a newly installed system has: the release, its updates and its security updates.
    security=${mirror%/debian}/debian-security
    cat >"$system/etc/apt/sources.list" <<EOF
deb $mirror $release main
deb $mirror $release-updates main
deb $security $release-security main
EOF
    cp /etc/resolv.conf "$system/etc/resolv.conf"
    echo "== $release: the system made in $(seconds "$started") s"

    mount -t proc proc "$system/proc"
    mount -t sysfs sysfs "$system/sys"
    mount --rbind /dev "$system/dev"
    mount -t tmpfs tmpfs "$system/run"
    mount --bind "$cache/apt" "$system/var/cache/apt/archives"
    mkdir -p "$system/mnt/zelupdate.git"
    mount --bind -o ro "$git_dir" "$system/mnt/zelupdate.git"

    inside() {
        chroot "$system" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$1"
    }
    inside "set -e
        git config --global --add safe.directory /mnt/zelupdate.git
        git clone --quiet --no-checkout /mnt/zelupdate.git /root/zelUpdate
        cd /root/zelUpdate
        git checkout --quiet ${branch:+-B $branch} $commit
        git log -1 --format='== $release: a fresh clone at %h %s'"

    started=$(date +%s)
    status=0
    inside "cd /root/zelUpdate && tools/test.sh" || status=$?
    echo "== $release: tools/test.sh exited with $status after $(seconds "$started") s"

    # The demo builds what it needs and starts zelUpdate-sim; still running after a minute is a
    # program that is up and waits for a click.
    demo=0
    inside "cd /root/zelUpdate && QT_QPA_PLATFORM=offscreen ZELUPDATE_SIM_DIR=/root/sim \
        timeout 60 tools/demo.sh" || demo=$?
    if [ "$demo" = 124 ] && compgen -G "$system/root/sim/*/controlpanel.bin" >/dev/null; then
        echo "== $release: tools/demo.sh started zelUpdate-sim, which ran until stopped"
    else
        echo "== $release: tools/demo.sh failed ($demo)"
        status=1
    fi

    # The Qt 6 build's package installs with apt, depends on no Qt 5 library, and its programs run.
    package=0
    inside "set -e
        cd /root/zelUpdate
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./build-qt6/zelupdate_*.deb >/dev/null
        echo \"== $release: Qt 6 package, Depends: \$(dpkg-query -W -f='\${Depends}' zelupdate)\"
        if ldd /usr/bin/zelUpdate /usr/bin/zelupdate-cli | grep libQt5; then exit 1; fi
        zelupdate-cli --version
        zelupdate-cli check --target panel examples/controlpanel-example.hex >/dev/null
        QT_QPA_PLATFORM=offscreen timeout 5 zelUpdate || [ \$? = 124 ]
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -q zelupdate >/dev/null" || package=$?
    if [ "$package" = 0 ]; then
        echo "== $release: the Qt 6 package's programs run and link no Qt 5"
    else
        echo "== $release: the Qt 6 package failed ($package)"
        status=1
    fi

    # Read whole before it is written: the log is this very output.
    local summary
    summary=$(grep -E "^== |tests passed|Total Test time|\(Skipped\)|^Done [0-9]+ runs" "$log")
    echo "== $release: summary"
    echo "$summary"
    exit $status
}

main "$@"

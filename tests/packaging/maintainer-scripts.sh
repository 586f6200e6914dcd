#!/usr/bin/env bash
# Runs the package's postinst and postrm as dpkg does, with a udevadm that logs its arguments
# and fails: where udev runs (its control socket is there) they must reload its rules, postinst
# also re-run them on the hidraw devices, and neither may fail with udevadm; where udev does not
# run (a container, a chroot) they must leave udevadm alone.
private_mounts=1 # read by lib.sh
# shellcheck source=tests/packaging/lib.sh
source "$(dirname "$0")/lib.sh"
zel_unpack
mount -t tmpfs tmpfs /run

mkdir "$scratch/bin"
printf '#!/bin/sh\necho "udevadm $*" >>"$UDEVADM_LOG"\nexit 1\n' >"$scratch/bin/udevadm"
chmod +x "$scratch/bin/udevadm"
export UDEVADM_LOG=$scratch/udevadm.log PATH=$scratch/bin:$PATH

# expect_calls SCRIPT ARGUMENT CALLS: runs the script directly, so its own mode and #! count.
expect_calls() {
    : >"$UDEVADM_LOG"
    "$scratch/DEBIAN/$1" "$2" || fail "$1 $2 exited with $?"
    diff -u <(printf '%s' "$3") "$UDEVADM_LOG" || fail "$1 $2: udevadm calls differ"
}

expect_calls postinst configure ''
expect_calls postrm remove ''

mkdir /run/udev
perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => shift, Listen => 1) or die "$!"' \
    /run/udev/control
expect_calls postinst configure 'udevadm control --reload
udevadm trigger --subsystem-match=hidraw --action=change
'
expect_calls postrm remove 'udevadm control --reload
'

#!/usr/bin/env bash
# Runs `udevadm test` with the packaged udev rule on a ControlPanel that umockdev emulates (the
# device of tests/hidraw): its hidraw node must get the uaccess tag, which systemd's
# 73-seat-late.rules turns into an ACL for the user at the seat, and the plugdev group with read
# and write for users beyond the seat. Without the rule, and for a device that differs in one
# match key, it must get neither.
private_mounts=1 # read by lib.sh
# shellcheck source=tests/packaging/lib.sh
source "$(dirname "$0")/lib.sh"
zel_unpack
zel_private_dev
# udevadm test writes its database under /run; /etc/udev/rules.d holds the rule under test only.
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /etc/udev/rules.d

panel=$ZEL_SOURCE_DIR/tests/hidraw/controlpanel.umockdev
rule=$root/usr/lib/udev/rules.d/70-zelupdate-controlpanel.rules
hidraw=/sys/class/hidraw/hidraw0
hid=/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.0/0003:03EB:2402.0001
# udevadm logs the group by its number.
plugdev=$(getent group plugdev | cut -d: -f3) ||
    fail "no plugdev group on this machine, which the rule gives the ControlPanel to"

# expect_access yes|no UMOCKDEV-FILE SYSFS-PATH WHAT: the uaccess tag, and the rule's group and
# mode. Each time a device that udev has never seen, since a device keeps the tags of earlier
# events in udev's database.
expect_access() {
    rm -rf /run/udev
    umockdev-run --device "$2" -- udevadm test "$3" >"$scratch/out" 2>"$scratch/log" ||
        fail "udevadm test on $4: $(tail -5 "$scratch/log")"
    local tags granted
    tags=$(sed -n 's/^CURRENT_TAGS=//p' "$scratch/out")
    case $1:$tags in
    yes:*:uaccess:* | no:) ;;
    no:*) [[ $tags != *:uaccess:* ]] || fail "$4 is tagged uaccess: CURRENT_TAGS=$tags" ;;
    yes:*) fail "$4 is not tagged uaccess: CURRENT_TAGS=$tags" ;;
    esac
    granted=$(grep -cE "${rule##*/}:[0-9]+ (GROUP $plugdev|MODE 0660)\$" "$scratch/log" || true)
    case $1:$granted in
    yes:2 | no:0) ;;
    yes:*) fail "$4 does not get group plugdev ($plugdev) and mode 0660:" \
        "$(grep -F "${rule##*/}" "$scratch/log" || true)" ;;
    no:*) fail "$4 gets the rule's group or mode" ;;
    esac
    echo "$4: CURRENT_TAGS=$tags, group and mode set: $1"
}

expect_access no "$panel" "$hidraw" "the ControlPanel's hidraw node without the rule"

cp "$rule" /etc/udev/rules.d/
expect_access yes "$panel" "$hidraw" "the ControlPanel's hidraw node"
grep -q "Reading rules file: /etc/udev/rules.d/${rule##*/}" "$scratch/log" ||
    fail "udevadm did not read the packaged rule"
expect_access no "$panel" "$hid" "the ControlPanel's hid node"

sed 's/^A: idProduct=2402$/A: idProduct=2403/' "$panel" >"$scratch/other-product.umockdev"
expect_access no "$scratch/other-product.umockdev" "$hidraw" "product 2403's hidraw node"
sed 's/^A: idVendor=03eb$/A: idVendor=03ec/' "$panel" >"$scratch/other-vendor.umockdev"
expect_access no "$scratch/other-vendor.umockdev" "$hidraw" "vendor 03ec's hidraw node"

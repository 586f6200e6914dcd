#!/usr/bin/env bash
# The reviewers every desktop package meets: desktop-file-validate on the menu entry (not even
# a hint), and appstreamcli on the installed tree (the metainfo and the desktop entry it
# launches), without the network.
source "$(dirname "$0")/lib.sh"
zel_unpack

entry=$root/usr/share/applications/se.zel.zelupdate.desktop
complaints=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $complaints"
[ -z "$complaints" ] || fail "desktop-file-validate: $complaints"
echo "desktop-file-validate: no complaints"

appstreamcli validate-tree --no-net --pedantic "$root" || fail "appstreamcli validate-tree: $?"

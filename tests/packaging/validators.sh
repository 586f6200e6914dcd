#!/usr/bin/env bash
# The reviewers every desktop package meets: desktop-file-validate on the menu entry (not even
# a hint), and appstreamcli, without the network, on the metainfo and on the installed tree
# (which also looks for the desktop entry that the metainfo launches).
# shellcheck source=tests/packaging/lib.sh
source "$(dirname "$0")/lib.sh"
zel_unpack

entry=$root/usr/share/applications/se.zel.zelupdate.desktop
complaints=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $complaints"
[ -z "$complaints" ] || fail "desktop-file-validate: $complaints"
echo "desktop-file-validate: no complaints"

metainfo=$root/usr/share/metainfo/se.zel.zelupdate.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate: $?"
appstreamcli validate-tree --no-net --pedantic "$root" || fail "appstreamcli validate-tree: $?"

#!/usr/bin/env bash
# The package holds exactly what a Debian desktop needs (no simulator, no test program, no
# second copy of the udev rule), and depends on the libraries its executables link.
# shellcheck source=tests/packaging/lib.sh
source "$(dirname "$0")/lib.sh"
zel_unpack

expected=(
    usr/bin/zelUpdate
    usr/lib/udev/rules.d/70-zelupdate-controlpanel.rules
    usr/share/applications/se.zel.zelupdate.desktop
    usr/share/metainfo/se.zel.zelupdate.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/zelupdate.svg
    usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/zelupdate.png
    usr/share/man/man1/zelUpdate.1.gz
    usr/share/man/man1/zelupdate-cli.1.gz
    usr/share/bash-completion/completions/zelupdate-cli
    usr/share/doc/zelupdate/copyright
    usr/share/doc/zelupdate/changelog.gz
)
if [ "$ZEL_CLI" = 1 ]; then
    expected+=(usr/bin/zelupdate-cli)
fi
diff -u <(printf '%s\n' "${expected[@]}" | sort) \
    <(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) ||
    fail "the package's files differ from the expected ones (-expected +packaged)"

depends=$(dpkg-deb --field "$deb" Depends)
for library in libhidapi-hidraw0 libqt5widgets5; do
    [[ $depends =~ (^|, )$library( |,|$) ]] || fail "Depends lacks $library: $depends"
done
echo "${#expected[@]} files as expected; Depends: $depends"

#!/usr/bin/env bash
# The package holds exactly what a Debian desktop needs (no simulator, no test program, no
# second copy of the udev rule), and depends on the libraries its executables link, of its own
# Qt only.
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
    expected+=(usr/bin/zelupdate-cli usr/share/doc/zelupdate/json-lines.md)
fi
diff -u <(printf '%s\n' "${expected[@]}" | sort) \
    <(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) ||
    fail "the package's files differ from the expected ones (-expected +packaged)"

# Debian names a library's package after its soname, and renames it at times (Debian 13 added t64
# to many names), so Depends is held to the packages that ship the libraries on this machine.
depends=$(dpkg-deb --field "$deb" Depends)
depended=$(sed -E 's/\([^)]*\)|\|[^,]*//g' <<<"$depends" | tr -d ' ' | tr ',' '\n')
for library in libhidapi-hidraw.so.0 "libQt${ZEL_QT}Widgets.so.$ZEL_QT"; do
    package=$(dpkg-query --search "*/$library" 2>/dev/null | sed -n '1s/:.*//p')
    [ -n "$package" ] || fail "no package on this machine ships $library"
    grep -qxF "$package" <<<"$depended" ||
        fail "Depends lacks $package, which ships $library: $depends"
done
# A build with one Qt depends on nothing of the other.
other_qt=$((ZEL_QT == 5 ? 6 : 5))
while read -r package; do
    ! dpkg-query --listfiles "$package" | grep "/libQt$other_qt[A-Za-z]*\.so" ||
        fail "Depends has $package, which ships Qt $other_qt, in a Qt $ZEL_QT build"
done <<<"$depended"
echo "${#expected[@]} files as expected; Depends: $depends"

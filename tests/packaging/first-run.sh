#!/usr/bin/env bash
# The unpacked programs find every library and symbol they need; the menu entry's command line,
# run as a desktop runs it, shows zelUpdate's window with the class that the entry's
# StartupWMClass names (so desktops tie the window to the entry and its icon), and the icon it
# names is in the package. With the CLI: the unpacked zelupdate-cli prints the version and
# accepts the ControlPanel's example file.
# shellcheck source=tests/packaging/lib.sh
source "$(dirname "$0")/lib.sh"
zel_unpack

programs=("$root"/usr/bin/*)
for program in "${programs[@]}"; do
    report=$(ldd -r "$program" 2>&1) || fail "ldd -r $program: $report"
    if grep -E "not found|undefined symbol" <<<"$report"; then
        fail "$program lacks a library or a symbol"
    fi
done
echo "ldd -r: every library and symbol of ${programs[*]##*/} found"

entry=$root/usr/share/applications/se.zel.zelupdate.desktop
key() { sed -n "s/^$1=//p" "$entry"; }
read -r -a exec_line <<<"$(key Exec)"
[[ "${exec_line[*]}" != *[\"\'\\%]* ]] || fail "Exec= needs a desktop's quoting or field codes"
[ -x "$root/usr/bin/$(key TryExec)" ] || fail "TryExec=$(key TryExec) is not a packaged program"
icon=$(key Icon)
compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null ||
    fail "Icon=$icon is not a packaged icon"
grep -q "<icon type=\"stock\">$icon</icon>" "$root"/usr/share/metainfo/*.metainfo.xml ||
    fail "the metainfo names another icon than Icon=$icon"

mkdir -m 700 "$scratch/home"
# On X whatever platform the tests run on otherwise, with a home of its own for the settings.
class=$(QT_QPA_PLATFORM=xcb HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home \
    XDG_RUNTIME_DIR=$scratch/home PATH=$root/usr/bin:$PATH xvfb-run --auto-servernum \
    "$(dirname "$0")/window-class.sh" "${exec_line[@]}")
wm_class=$(key StartupWMClass)
[[ $class == *\"$wm_class\"* ]] ||
    fail "the window's WM_CLASS $class is not StartupWMClass=$wm_class"
echo "${exec_line[*]}: a window of WM_CLASS $class"

if [ "$ZEL_CLI" = 1 ]; then
    cli=$root/usr/bin/zelupdate-cli
    version=$("$cli" --version) || fail "zelupdate-cli --version exited with $?"
    [[ $version == *"$ZEL_VERSION"* ]] || fail "zelupdate-cli --version: $version"
    example=$ZEL_SOURCE_DIR/examples/controlpanel-example.hex
    "$cli" check --target panel "$example" || fail "zelupdate-cli check --target panel: $?"
    echo "zelupdate-cli --version: $version; check --target panel accepts $example"
fi

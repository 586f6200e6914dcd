#!/bin/bash
# Takes a picture of zelUpdate's window for the documentation: runs an already built
# zelUpdate-sim on a virtual X display (xvfb-run), grabs its window with ImageMagick's import,
# then closes the program with its own close button. The simulated flash and the program's
# settings go to a temporary folder, so neither the picture nor the user's files depend on
# earlier runs.
#
# Usage: tools/screenshot-window.sh BUILD_DIR [OUTPUT.png]
# Needs: xvfb (xvfb-run), xdotool, imagemagick.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 BUILD_DIR [OUTPUT.png]" >&2
    exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
program=$(cd "$1" && pwd)/app/zelUpdate-sim
output=${2:-$repo/docs/window.png}
if [ ! -x "$program" ]; then
    echo "$0: no $program; build the zelUpdate-sim target first" >&2
    exit 1
fi
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs inside the virtual display.
cat >"$scratch/shoot.sh" <<'INNER'
set -euo pipefail
program=$1 output=$2 scratch=$3
export ZELUPDATE_SIM_DIR=$scratch/flash
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb

"$program" &
pid=$!
stop() {
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        wait "$pid" || true
    fi
}
trap stop EXIT

# Polls `condition` every 0.1 s for up to 10 s.
within_10s() {
    for _ in $(seq 100); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

find_window() { window=$(xdotool search --onlyvisible --name '^zelUpdate$' 2>/dev/null | head -n 1); [ -n "$window" ]; }
within_10s find_window || { echo "zelUpdate-sim showed no window" >&2; exit 1; }

# Mapped is not yet painted: grab until the picture shows more than the background.
painted() {
    import -window "$window" "$output" 2>/dev/null &&
        [ "$(identify -format '%k' "$output")" -gt 8 ]
}
within_10s painted || { echo "the window never showed its contents" >&2; exit 1; }

# The close button is the lowest widget, centred across the window.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH / 2)) $((HEIGHT - 24)) click 1
exited() { ! kill -0 "$pid" 2>/dev/null; }
within_10s exited || { echo "zelUpdate-sim did not close from its close button" >&2; exit 1; }
wait "$pid"
# It saves the flash only after its event loop has ended normally.
[ -s "$ZELUPDATE_SIM_DIR/controlpanel.bin" ] && [ -s "$ZELUPDATE_SIM_DIR/controlboard.bin" ] ||
    { echo "zelUpdate-sim did not save its flash" >&2; exit 1; }
echo "window ${WIDTH}x${HEIGHT} saved to $output"
INNER

xvfb-run -a -s "-screen 0 1024x768x24" bash "$scratch/shoot.sh" "$program" "$output" "$scratch"

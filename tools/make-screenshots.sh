#!/bin/bash
# Takes the README's pictures: the window, and a control board update. Runs an already built
# zelUpdate-sim on a virtual X display (xvfb-run), grabs the window, clicks the control board's
# button, answers the file dialog with examples/controlboard-example.hex, and grabs the screen
# while the progress dialog is up and again when the result message shows. Then it dismisses the
# message, closes the program with its own close button and checks that the simulated board's
# flash holds the example exactly as objcopy reads it. The simulated flash, the program's
# settings and its home folder are temporary, so neither the pictures nor the user's files depend
# on earlier runs.
#
# Usage: tools/make-screenshots.sh BUILD_DIR [OUTPUT_DIR]   (default: docs/ in the repository)
# Writes: window.png, update-in-progress.png, update-result.png
# Needs: xvfb (xvfb-run), xdotool, imagemagick, binutils (objcopy).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 BUILD_DIR [OUTPUT_DIR]" >&2
    exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
program=$(cd "$1" && pwd)/app/zelUpdate-sim
output=${2:-$repo/docs}
example=$repo/examples/controlboard-example.hex
if [ ! -x "$program" ]; then
    echo "$0: no $program; build the zelUpdate-sim target first" >&2
    exit 1
fi
for tool in xvfb-run xdotool import convert identify objcopy cmp; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done
mkdir -p "$output"
output=$(cd "$output" && pwd)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs inside the virtual display.
cat >"$scratch/shoot.sh" <<'INNER'
set -euo pipefail
program=$1 output=$2 scratch=$3 example=$4
export ZELUPDATE_SIM_DIR=$scratch/flash HOME=$scratch/home
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb

"$program" &
pid=$!
stop() {
    if kill -0 "$pid" 2>/dev/null; then
        # A program stopped for a grab takes the signal only once it runs again.
        kill -CONT "$pid"
        kill "$pid"
        wait "$pid" || true
    fi
}
trap stop EXIT

# Polls `condition` every 0.05 s for up to 10 s.
within_10s() {
    for _ in $(seq 200); do
        if "$@"; then return 0; fi
        sleep 0.05
    done
    return 1
}

# Windows vanish while being searched; xdotool's complaints about them mean nothing here.
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }

find_window() { window=$(visible '^zelUpdate$' | head -n 1); [ -n "$window" ]; }
within_10s find_window || { echo "zelUpdate-sim showed no window" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
main_width=$WIDTH main_height=$HEIGHT
painted_main() {
    import -window root "$scratch/root.miff" 2>/dev/null &&
        [ "$(convert "$scratch/root.miff" -crop "${main_width}x${main_height}+0+0" \
            -format '%k' info:)" -gt 8 ]
}
within_10s painted_main || { echo "the window never showed its contents" >&2; exit 1; }
convert "$scratch/root.miff" -crop "${main_width}x${main_height}+0+0" +repage -strip \
    "$output/window.png"
echo "window grabbed: $(identify -format '%wx%h' "$output/window.png")"

# The buttons are stacked 30 pixels apart, the close button lowest: the control board's button
# is two above it.
xdotool mousemove --window "$window" $((main_width / 2)) $((main_height - 84)) click 1
find_file_dialog() { [ -n "$(visible '^Open Hex File$')" ]; }
within_10s find_file_dialog || { echo "no file dialog" >&2; exit 1; }
sleep 0.5
# The file name field has the focus; a full path there opens the file directly.
xdotool type --delay 5 "$example"
sleep 0.3
# The sequence's dialogs carry no title of their own: they are the windows that come after these.
before=" $(visible '' | tr '\n' ' ') "
# A Return may only take the completer's suggestion; the one after it opens the file.
for _ in 1 2 3; do
    xdotool key Return
    sleep 0.3
    find_file_dialog || break
done
! find_file_dialog || { echo "the file dialog did not take $example" >&2; exit 1; }

# Each dialog of the sequence is a new window: first the wait for the board's bootloader, then
# the progress dialog, then the result message. The walk under the progress dialog takes well
# under a second, about what a few grabs take, so the program is stopped (SIGSTOP) while the
# dialog is grabbed: the X server keeps showing what it last painted.
declare -a seen=()
note_dialogs() {
    for id in $(visible ''); do
        case "$before ${seen[*]} " in *" $id "*) ;; *) seen+=("$id") ;; esac
    done
}
progress_shown() { note_dialogs; [ ${#seen[@]} -ge 2 ]; }
within_10s progress_shown || { echo "no progress dialog after the wait" >&2; exit 1; }

# Without a window manager the dialogs land near the top left corner, over the main window.
# The picture is the area of the screen that the main window and the dialog cover together.
cover() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    local right=$((X + WIDTH > main_width ? X + WIDTH : main_width))
    local bottom=$((Y + HEIGHT > main_height ? Y + HEIGHT : main_height))
    echo "${right}x${bottom}+0+0"
}
# Grabs the screen into $2 once the dialog $1 has painted its contents.
grab_painted() {
    import -window root "$scratch/root.miff" 2>/dev/null &&
        eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)" &&
        [ "$(convert "$scratch/root.miff" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" -format '%k' \
            info:)" -gt 8 ] &&
        convert "$scratch/root.miff" -crop "$(cover "$1")" +repage -strip "$2"
}
# The dialog may still be blank when the program stops: let it run a moment and look again.
progress=${seen[1]}
caught=false
for _ in $(seq 50); do
    kill -STOP "$pid"
    note_dialogs
    if [ ${#seen[@]} -gt 2 ]; then
        kill -CONT "$pid"
        break
    fi
    if grab_painted "$progress" "$output/update-in-progress.png"; then
        caught=true
        kill -CONT "$pid"
        break
    fi
    kill -CONT "$pid"
    sleep 0.01
done
$caught || { echo "the walk ended before its progress dialog could be grabbed" >&2; exit 1; }
# A bar further on shows better; should the walk end meanwhile, the first picture stays.
sleep 0.15
kill -STOP "$pid"
note_dialogs
if [ ${#seen[@]} -eq 2 ]; then
    grab_painted "$progress" "$scratch/later.png" && mv "$scratch/later.png" \
        "$output/update-in-progress.png"
fi
kill -CONT "$pid"
echo "progress dialog grabbed: $(identify -format '%wx%h' "$output/update-in-progress.png")"

result_shown() { note_dialogs; [ ${#seen[@]} -ge 3 ]; }
within_10s result_shown || { echo "no result message after the walk" >&2; exit 1; }
result_painted() { grab_painted "${seen[2]}" "$output/update-result.png"; }
within_10s result_painted || { echo "the result message never showed its text" >&2; exit 1; }
echo "result message grabbed: $(identify -format '%wx%h' "$output/update-result.png")"

# Return answers the message's Ok button; then the close button ends the program, which saves
# the flash after its event loop has ended.
xdotool key Return
gone() { [ -z "$(visible '' | grep -x "${seen[2]}")" ]; }
within_10s gone || { echo "the result message did not go" >&2; exit 1; }
xdotool mousemove --window "$window" $((main_width / 2)) $((main_height - 24)) click 1
exited() { ! kill -0 "$pid" 2>/dev/null; }
within_10s exited || { echo "zelUpdate-sim did not close from its close button" >&2; exit 1; }
wait "$pid"
INNER

xvfb-run -a -s "-screen 0 1024x768x24" \
    bash "$scratch/shoot.sh" "$program" "$output" "$scratch" "$example"

# The board's flash must hold the example below the board's limit of 32,256 bytes and stay
# erased (0xFF) everywhere else, its bootloader's area included.
flash=$scratch/flash/controlboard.bin
objcopy -I ihex -O binary --gap-fill 0xff "$example" "$scratch/example.bin"
used=$(stat -c %s "$scratch/example.bin")
[ "$used" -le 32256 ] || { echo "$example reaches beyond the board's limit" >&2; exit 1; }
{ cat "$scratch/example.bin"; head -c $((32768 - used)) /dev/zero | tr '\0' '\377'; } \
    >"$scratch/expected.bin"
if cmp "$flash" "$scratch/expected.bin"; then
    echo "controlboard.bin ($(stat -c %s "$flash") bytes) equals objcopy's binary of" \
        "$(basename "$example") padded with 0xFF"
else
    echo "controlboard.bin differs from objcopy's binary of $(basename "$example")" >&2
    exit 1
fi
echo "pictures saved to $output: window.png, update-in-progress.png, update-result.png"

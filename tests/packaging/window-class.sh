#!/usr/bin/env bash
# Runs COMMAND... on the X display that xvfb-run opened, waits for its first top-level window
# with a WM_CLASS and prints that class ("instance" "class"), then ends the program. Fails when
# the program ends, or shows no such window within 30 s.
set -euo pipefail
"$@" &
program=$!
for _ in $(seq 150); do
    if ! kill -0 "$program" 2>/dev/null; then
        wait "$program" || true
        echo "FAIL: $* ended" >&2
        exit 1
    fi
    class=$(xwininfo -root -tree | sed -n 's/.*: (\("[^"]*" "[^"]*"\)).*/\1/p' | head -n 1)
    if [ -n "$class" ]; then
        echo "$class"
        kill "$program"
        wait "$program" || true
        exit 0
    fi
    sleep 0.2
done
kill "$program"
echo "FAIL: $* showed no window" >&2
exit 1

#!/usr/bin/env bash
# Runs a test of the window under a virtual X display with a notification area (trayer), and stops both afterwards.
#   with-tray.sh TEST-PROGRAM [TEST-FUNCTION...]
# Exits 77 (skipped) when Xvfb or trayer is missing; scripts/setup installs both.
set -euo pipefail
for tool in Xvfb trayer; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (scripts/setup installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
if [ ! -s "$work/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

trayer --edge bottom --align right --widthtype request --height 24 --transparent false >"$work/trayer.log" 2>&1 &
pids+=($!)

# The icon must go to this tray, not to a desktop's D-Bus notification service.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb BSA_EXPECT_TRAY=1
"$@"

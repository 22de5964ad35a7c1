#!/usr/bin/env bash
# Renders the desktop dialog's pictures into docs/screenshots/ under a virtual X server:
# each tab of the main dialog (the USB pages listing simulated devices), a run on USB I through
# the replug guidance, and a programming run over the network against the simulator; and the
# station window with six simulated devices (three passed, one failed, two running) and its
# records.
# Usage: scripts/screenshots.sh [build folder]   (default: build)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target gui_render_screenshots gui_render_station_window -j 2

out="$root/docs/screenshots"
mkdir -p "$out"
# The xcb platform draws as on a desktop; fixed screen depth and resolution keep the pictures
# the same from run to run.
# The update file is named relative to the repository, as a user would type it.
cd "$root"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" \
    "$build/tests/gui/gui_render_screenshots" "$out" examples/sample-update.enc
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" \
    "$build/tests/gui/gui_render_station_window" "$out" examples/sample-update.enc

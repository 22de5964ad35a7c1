#!/usr/bin/env bash
# Renders the desktop dialog's pictures into docs/screenshots/ under a virtual X server:
# each tab of the main dialog (the USB pages listing simulated devices), a run on USB I through
# the replug guidance, and a programming run over the network against the simulator; and the
# station window with six simulated devices (three passed, one failed, two running) and its
# records; and Prometheus's graph of a station's attempts (about two minutes).
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

# A station's attempts as a real Prometheus server graphs them: four simulated devices in UDP
# slots, one refusing every frame, taken out and put back in rounds while a private server
# scrapes the station every second; headless Chromium photographs the server's own graph page.
prometheus_port="127.0.120.1:9090"
metrics_port="127.0.120.1:9464"
slots="127.0.120.11,127.0.120.12,127.0.120.13,127.0.120.14"
work="$(mktemp -d)"
pids=()
cleanup() {
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
if ! command -v chromium >/dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get install -y --no-install-recommends chromium
fi
cat >"$work/prometheus.yml" <<CONFIG
global: {scrape_interval: 1s, evaluation_interval: 1s}
scrape_configs:
  - job_name: flashwright
    honor_labels: true
    static_configs: [{targets: ['$metrics_port']}]
CONFIG
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="$prometheus_port" >"$work/prometheus.log" 2>&1 &
pids+=($!)
# The station keeps its settings and records in the temporary folder, not the user's.
XDG_CONFIG_HOME="$work" XDG_STATE_HOME="$work" XDG_RUNTIME_DIR="$work" \
    "$build/app/flashwright" station examples/sample-update.enc --link UDP --slots "$slots" \
    --station "line 1" --metrics "$metrics_port" --records "$work/records.db" --json \
    >"$work/station.log" 2>&1 &
pids+=($!)
# A slot is free again after 3 s without an answer: each round serves its devices, then takes
# them out for 4 s. The fourth device is the failing one, present every second round.
rounds=12
for round in $(seq 1 "$rounds"); do
    devices=()
    for slot in 11 12 13 14; do
        reply=()
        if [ "$slot" = 14 ]; then
            [ $((round % 2)) -eq 0 ] || continue
            reply=(--reply signature)
        fi
        "$build/sim/flashwright-sim" --address "127.0.120.$slot" "${reply[@]}" >/dev/null 2>&1 &
        devices+=($!)
    done
    sleep 5
    kill "${devices[@]}" 2>/dev/null || true
    wait "${devices[@]}" 2>/dev/null || true
    sleep 4
done
# sum by (result) (flashwright_attempts_total{station="line 1"}), encoded for the address
encoded='sum%20by%20(result)%20(flashwright_attempts_total%7Bstation%3D%22line%201%22%7D)'
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,940 \
    --virtual-time-budget=15000 --screenshot="$out/prometheus-attempts.png" \
    "http://$prometheus_port/graph?g0.expr=$encoded&g0.tab=0&g0.range_input=2m" 2>/dev/null
echo "Prometheus graph: $out/prometheus-attempts.png"

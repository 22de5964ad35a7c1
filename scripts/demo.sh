#!/usr/bin/env bash
# The README's demo: a production station on the bundled simulator. Four simulated FTDI devices
# are plugged into a simulated bus in a temporary folder (a Corvane device that must be told
# its enter-bootloader code, and one that rejects every frame as not meant for it); the station
# updates each one as it arrives and records every attempt in an embedded SQLite file in that
# folder. Once every device has had its attempt the station is stopped as an operator would
# (Ctrl-C: no new devices, the running updates end), and `records --summary` shows the session.
# Exits with 0 when the station did just that. Usage: scripts/demo.sh [build folder]
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
sim="$build/sim/flashwright-sim"
app="$build/app/flashwright"
file=examples/sample-update.enc
# The longest the demo waits for the devices to plug in, for all their attempts, and for the
# station to end once stopped.
plug_tries=50       # of 0.1 s
attempts_timeout=60 # s
stop_timeout=20     # s

work=$(mktemp -d)
bus="$work/bus"
records="$work/records.sqlite"
mkdir "$bus"
export FLASHWRIGHT_FTDI_BUS="$bus"
export FLASHWRIGHT_CORVANE_CODE=5AC33CA5 # the simulated Corvane device's code

sim_pids=()
station_pid=
cleanup() {
    for pid in $station_pid "${sim_pids[@]}"; do
        if kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
    done
    rm -rf "$work"
}
trap cleanup EXIT

# serial, then the simulator's options for that device (words without blanks)
plug() {
    local serial=$1
    shift
    echo "\$ flashwright-sim --transport ftdi --bus $bus --serial $serial${*:+ $*} &"
    "$sim" --transport ftdi --bus "$bus" --serial "$serial" "$@" >"$work/$serial.log" 2>&1 &
    sim_pids+=($!)
}
plug FW0001
plug FW0002
plug CV0003 --description Corvane --corvane
plug FW0004 --reply signature # rejects every frame as not meant for it
devices=4

for _ in $(seq "$plug_tries"); do
    [ "$(find "$bus" -name '*.dev' | wc -l)" -eq "$devices" ] && break
    sleep 0.1
done
for log in "$work"/*.log; do
    if ! grep -h 'flashwright-sim:' "$log"; then
        cat "$log" >&2
        echo "demo: a simulated device did not plug in" >&2
        exit 1
    fi
done

echo
echo "\$ FLASHWRIGHT_FTDI_BUS=$bus FLASHWRIGHT_CORVANE_CODE=$FLASHWRIGHT_CORVANE_CODE \\"
echo "  flashwright station $file --link FTDI --records $records --json"
# The JSON events come through a named pipe the script reads; each result is shown as it comes.
mkfifo "$work/events"
"$app" station "$file" --link FTDI --records "$records" --json >"$work/events" 2>"$work/station.err" &
station_pid=$!
exec {events}<"$work/events"
results=0
deadline=$((SECONDS + attempts_timeout))
while [ "$results" -lt "$devices" ] && [ "$SECONDS" -lt "$deadline" ]; do
    IFS= read -r -t 5 -u "$events" line || { kill -0 "$station_pid" 2>/dev/null && continue; break; }
    case $line in
        *'"event":"result"'*) echo "$line"; results=$((results + 1)) ;;
    esac
done
# Every device had its attempt: stop taking devices, as the operator's first Ctrl-C does.
kill -INT "$station_pid" 2>/dev/null
timeout "$stop_timeout" cat <&"$events" >/dev/null
kill -TERM "$station_pid" 2>/dev/null # only if it has not ended by then
wait "$station_pid"
status=$?
station_pid=
cat "$work/station.err" >&2
echo "station stopped with exit status $status (that of the last failed attempt)"
if [ "$results" -ne "$devices" ]; then
    echo "demo: $results of $devices devices had their attempt within $attempts_timeout s" >&2
    exit 1
fi

echo
echo "\$ flashwright records --records $records --summary"
"$app" records --records "$records" --summary || exit 1

echo
echo "What each device received:"
for pid in "${sim_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
done
sim_pids=()
for log in "$work"/*.log; do
    echo "$(basename "$log" .log): $(grep -h 'served' "$log" | sed 's/^flashwright-sim: //')"
done
exit 0

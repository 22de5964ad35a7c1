#!/usr/bin/env bash
# The README's demo: serves the device simulator on 127.0.0.1 in the background, updates it with
# the sample file through the command line, shows the outcome, stops the simulator and exits
# with the update's exit status. Usage: scripts/demo.sh [build folder]
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
sim="$build/sim/flashwright-sim"
app="$build/app/flashwright"
address=127.0.0.1
file=examples/sample-update.enc

sim_log=$(mktemp)
"$sim" --address "$address" >"$sim_log" 2>&1 &
sim_pid=$!
stop_sim() {
    if kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
}
trap 'stop_sim; rm -f "$sim_log"' EXIT

# The simulator says when it listens; give it a few seconds on a slow machine.
for _ in $(seq 50); do
    grep -q listening "$sim_log" && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        cat "$sim_log" >&2
        echo "demo: the simulator did not start" >&2
        exit 1
    fi
    sleep 0.1
done
cat "$sim_log"

echo "\$ flashwright UDP $address $file"
"$app" UDP "$address" "$file"
status=$?

# Without a terminal the program shows nothing; name the outcome here instead.
if [ ! -t 2 ]; then
    case $status in
        0) meaning="Programming successful" ;;
        246) meaning="the network link could not be opened" ;;
        245) meaning="no bootloader answered within 10 s" ;;
        244 | 243) meaning="the update file cannot be used" ;;
        242) meaning="the update file has an odd size or a malformed frame" ;;
        241) meaning="too many errors: no or wrong response from the device" ;;
        240) meaning="the update does not fit the device" ;;
        239) meaning="the bootloader is not ready" ;;
        *) meaning="see flashwright --help" ;;
    esac
    echo "$meaning"
fi
echo "flashwright exit status: $status"

stop_sim
# What the device saw: its one-line summary of the update.
grep -v listening "$sim_log"
exit "$status"

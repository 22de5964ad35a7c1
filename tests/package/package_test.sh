#!/usr/bin/env bash
# The Debian package as a user gets it: built from this build, unpacked into a temporary root,
# and its programs run from there: the version, the check of the packaged sample, and a whole
# update of the sample against the packaged simulator. Then the desktop entry, the manual
# pages and lintian's verdict.
# Usage: package_test.sh <build folder> <loopback address>
set -euo pipefail

build=$1
address=$2
work=$(mktemp -d)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/out/flashwright_*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
sample=$root/usr/share/flashwright/examples/sample-update.enc

version=$("$bin/flashwright" --version)
[[ $version =~ ^flashwright\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed '$version'"

"$bin/flashwright" check "$sample" | grep -qx valid || fail "the packaged sample is not valid"

"$bin/flashwright-sim" --address "$address" --once >"$work/sim.log" 2>&1 &
sim_pid=$!
"$bin/flashwright" UDP "$address" "$sample" || fail "the update of the sample ended with $?"
wait "$sim_pid" || fail "the simulator ended with $?"
sim_pid=
grep -q 'accepted' "$work/sim.log" || { cat "$work/sim.log" >&2; fail "the simulator served no update"; }

[[ -f $root/usr/share/flashwright/prometheus/flashwright-rules.yml ]] ||
    fail "the package has no alert rules"

desktop-file-validate "$root/usr/share/applications/flashwright.desktop" ||
    fail "desktop-file-validate"

for page in flashwright flashwright-sim; do
    warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man $page: $warnings"
done

lintian --fail-on error "$deb" || fail "lintian reports errors"
echo "package checks passed: $(basename "$deb")"

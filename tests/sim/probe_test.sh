#!/usr/bin/env bash
# The probe, an unchanged client of the spooler and the bidi provider, runs with the simulator
# loaded the way the program will have it (winspool.drv beside it, bidi classes registered in
# the prefix), driven from outside by quenlo-sim.
#
#   probe_test.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
# Every program below must share one wineserver: enter the runner's session if not in one.
if [ -z "${QUENLO_WINE_SESSION:-}" ]; then
    exec "$build/wine-run" bash "$0" "$@"
fi

bin=$build/bin
session=probe-test
out=$(mktemp)
probe_pid=
cleanup() {
    [ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null || true
    rm -f "$out"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- probe output:" >&2
    cat "$out" >&2
    exit 1
}

sim() { wine64 "$bin/quenlo-sim.exe" --session "$session" "$@"; }

# Waits up to 20 s for a line matching $1 in the probe's output.
wait_for_line() {
    local i
    for i in $(seq 1 200); do
        grep -q "$1" "$out" && return 0
        kill -0 "$probe_pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "$1" "$out"
}

sim reset
sim add-driver "ORLUME 470 Photo Printer"
sim add-printer "Photo 470" "ORLUME 470 Photo Printer"

QUENLO_SIM_SESSION=$session wine64 "$bin/sim_probe.exe" 20000 >"$out" 2>&1 &
probe_pid=$!
wait_for_line '^ready' || fail "the probe did not register its change notification"
[ "$(sim registrations | tr -d '\r')" = 1 ] || fail "quenlo-sim does not see the registration"

# The job spools first, then starts printing with an error the printer reports.
sim add-job "Photo 470" 42 spooling
sim set-values 42 2005 0x1234 1 0
sim set-status 42 printing
sim wait-event click 42 1 20000 >/dev/null || fail "no click reached the printer"

rc=0
wait "$probe_pid" || rc=$?
probe_pid=
[ "$rc" -eq 0 ] || fail "the probe exited with $rc"
tr -d '\r' <"$out" >"$out.clean" && mv "$out.clean" "$out"
grep -qx 'notified 42 0x10' "$out" || fail "no job status notification"
grep -qx 'job 42 Photo 470 ORLUME 470 Photo Printer' "$out" || fail "wrong job lookup"
grep -qx 'status 2005 4660 1 0' "$out" || fail "wrong status"
grep -qx 'click ok' "$out" || fail "the click was refused"

clicks=$(sim clicks 42 | tr -d '\r')
echo "$clicks" | grep -Eqx 'click 42 [0-9]+ Photo 470' || fail "quenlo-sim reports no click: $clicks"
[ "$(sim count status-request 42 | tr -d '\r')" = 1 ] || fail "expected one status request"
# The probe gave back every handle, block, object, binding and string it obtained.
sim accounting >/dev/null || fail "unbalanced: $(sim accounting | tr -d '\r' | tr '\n' ' ')"
echo "probe test passed"

#!/usr/bin/env bash
# The road of one print job, played against the real quenlo.exe under Wine with the printer
# simulator: a job prints, the printer reports a paper jam, the user presses "취소" in the error
# dialog, the press reaches the printer, the printer resets and the error clears, the job ends, the
# printer driver is removed and the program ends by itself. Each step is printed as it happens and
# every state is saved as a screenshot of the display.
#
#   scripts/demo.sh            (make demo builds first, then runs this)
#
# Environment:
#   QUENLO_BUILD_DIR   build tree with bin/quenlo.exe (default: <repo>/build)
#   QUENLO_DEMO_OUT    folder for the screenshots (default: <repo>/out/demo)
#   QUENLO_DISPLAY     "user" to show it on $DISPLAY, anything else for a private Xvfb; unset: on
#                      $DISPLAY when that display answers, else on a private Xvfb
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=$(cd "${QUENLO_BUILD_DIR:-$root/build}" 2>/dev/null && pwd) || build=
out=${QUENLO_DEMO_OUT:-$root/out/demo}

if [ -z "$build" ] || [ ! -f "$build/bin/quenlo.exe" ] || [ ! -f "$build/bin/quenlo-sim.exe" ] ||
    [ ! -f "$build/bin/quenlo-look.exe" ]; then
    echo "demo: the program is not built; run 'make demo'" >&2
    exit 1
fi

# Outside a runner session: pick the display, then run this script again inside one session (it
# stops every Wine process and the private display at the end, whatever happens here).
if [ -z "${QUENLO_WINE_SESSION:-}" ]; then
    if [ -z "${QUENLO_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        export QUENLO_DISPLAY=user
    fi
    export QUENLO_BUILD_DIR=$build QUENLO_DEMO_OUT=$out
    exec "$here/wine-run.sh" timeout 90 bash "${BASH_SOURCE[0]}" "$@"
fi

bin=$build/bin
session=demo
job=7
printer="Photo 470"
driver="ORLUME 470 Photo Printer"

# Milliseconds since the start, from bash's clock.
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
started=$(now_ms)
say() {
    local ms=$(($(now_ms) - started))
    printf '%3d.%01ds  %s\n' $((ms / 1000)) $((ms % 1000 / 100)) "$*"
}
detail() { sed 's/^/          /'; }
fail() {
    say "FAILED: $*" >&2
    exit 1
}

sim() { wine64 "$bin/quenlo-sim.exe" --session "$session" "$@" | tr -d '\r'; }
look() { wine64 "$bin/quenlo-look.exe" "$@" | tr -d '\r'; }

mkdir -p "$out"
rm -f "$out"/*.png
shots=0
# What of quenlo.exe a user sees on the display right now.
on_screen() {
    local state
    state=$(look state)
    if grep -q '^frame .* visible' <<<"$state"; then
        echo "its main frame (it should never show)"
    elif grep -q '^dialog shown' <<<"$state"; then
        echo "the error dialog"
    else
        echo "nothing of quenlo.exe"
    fi
}

# shot NAME [dialog state line]: the whole display, and a close-up of the dialog when one is shown.
shot() {
    shots=$((shots + 1))
    local file
    file=$(printf '%s/%02d-%s.png' "$out" "$shots" "$1")
    import -window root "$file"
    say "screenshot $file: $(on_screen) on screen"
    if [ -n "${2:-}" ]; then
        local x y w h
        read -r _ _ x y w h <<<"$2"
        convert "$file" -crop "$((w + 40))x$((h + 40))+$((x - 20))+$((y - 20))" +repage \
            "${file%.png}-dialog.png"
        say "screenshot ${file%.png}-dialog.png: the dialog close up"
    fi
}

app_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
        kill "$app_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

say "display $DISPLAY$([ "${QUENLO_DISPLAY:-}" = user ] && echo ' (yours)' || echo ' (private Xvfb)')"
say "the simulated spooler gets the driver \"$driver\" and the printer \"$printer\""
sim reset
sim add-driver "$driver"
sim add-printer "$printer" "$driver"

say "quenlo.exe starts"
QUENLO_SIM_SESSION=$session wine64 "$bin/quenlo.exe" &
app_pid=$!
sim wait-registrations 1 20000 >/dev/null || fail "quenlo.exe does not watch the spooler"
look wait running 20000 >/dev/null || fail "quenlo.exe has no main frame"
say "it runs with no window and no message, and watches the spooler"
shot started

say "job $job starts printing on \"$printer\""
sim add-job "$printer" "$job" spooling
sim set-status "$job" printing
look wait hidden 20000 >/dev/null || fail "no error dialog for the job"
sim wait-event status-request "$job" 1 20000 >/dev/null || fail "the printer is never asked"
say "a job monitor asks the printer once a second; the job's error dialog waits, hidden"
shot job-printing

say "the printer reports a paper jam: error 2009, detail 6699 (0x1A2B), button \"취소\""
sim set-values "$job" 2009 6699 1 0
state=$(look wait shown 20000) || fail "the error is not shown"
say "the error dialog shows:"
grep -v '^frame' <<<"$state" | detail
shot paper-jam "$(grep '^dialog shown' <<<"$state")"

say "the user presses \"취소\""
look press >/dev/null || fail "no button to press"
sim wait-event click "$job" 1 20000 >/dev/null || fail "the press never reached the printer"
say "the printer received the press as a cancel click:"
sim clicks "$job" | sed -E 's/^click ([0-9]+) [0-9]+ (.*)$/cancel click for job \1 on "\2"/' | detail
look wait hidden 20000 >/dev/null || fail "the dialog stays visible"
say "the dialog hid itself at once"
shot pressed

say "the printer resets its button and the error clears (2000)"
sim set-values "$job" 2000 0 0 1
polls=$(sim count status-request "$job")
sim wait-event status-request "$job" $((polls + 2)) 20000 >/dev/null ||
    fail "the monitor stopped asking"
look state | grep -q '^dialog hidden' || fail "the dialog is not hidden"
say "the monitor read the reset; nothing to show, the dialog stays hidden"
shot printer-reset

say "job $job is done and leaves the spooler"
sim delete-job "$job"
look wait gone 20000 >/dev/null || fail "the dialog outlives its job"
say "its monitor and dialog are gone; quenlo.exe watches on"
shot job-ended

say "the printer driver is uninstalled"
sim remove-driver "$driver"
for _ in $(seq 1 200); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && fail "quenlo.exe is still running"
rc=0
wait "$app_pid" || rc=$?
app_pid=
say "quenlo.exe ended by itself (exit code $rc)"
[ "$rc" -eq 0 ] || fail "exit code $rc"
accounting=$(sim accounting) || fail "quenlo.exe left spooler or printer resources behind:
$accounting"
say "every spooler handle and printer connection it obtained was given back:"
detail <<<"$accounting"
shot ended

say "done: $shots screenshots in $out"

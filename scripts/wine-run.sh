#!/usr/bin/env bash
# Runs a Windows program, or a host command, inside the project's Wine environment.
#
#   wine-run.sh prog.exe [args...]   runs the executable under wine64; its exit code is ours
#   wine-run.sh command [args...]    runs a host command (ctest, a script) inside the environment
#
# The outermost call owns the session: it makes the private prefix once (inside the build tree),
# starts a private Xvfb display, and when the command ends it stops every Wine process of the
# prefix and the display. Calls made inside a session (CTest's emulator, scripts) reuse it.
#
# Environment:
#   QUENLO_BUILD_DIR   build tree that holds the prefix (default: <repo>/build)
#   QUENLO_DISPLAY     "user" to use $DISPLAY instead of a private Xvfb
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${QUENLO_BUILD_DIR:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)

export QUENLO_BUILD_DIR=$build
export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export PATH=/usr/lib/wine:$PATH
# Programs of this build load the printer simulator's winspool.drv that lies beside them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winspool.drv=n,b}

run_one() {
    case "$1" in
    *.exe | *.EXE) exec wine64 "$@" ;;
    *) exec "$@" ;;
    esac
}

# Inside a session: nothing to set up.
if [ -n "${QUENLO_WINE_SESSION:-}" ]; then
    run_one "$@"
fi

make_prefix() {
    if [ ! -f "$WINEPREFIX/.quenlo-booted" ]; then
        echo "wine-run: creating the Wine prefix in $WINEPREFIX" >&2
        rm -rf "$WINEPREFIX"
        # No Mono or Gecko: their installers would wait for a click.
        WINEDLLOVERRIDES="mscoree=;mshtml=" DISPLAY= wine64 wineboot -i >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.quenlo-booted"
    fi

    local reg=$build/quenlo-prefix.reg
    # Korean dialog fonts; windows that keep their captions and hide at once without a window
    # manager; no crash dialog.
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"MS Shell Dlg"="NanumGothic"' \
        '"MS Shell Dlg 2"="NanumGothic"' \
        '"Tahoma"="NanumGothic"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
        '"Decorated"="N"' \
        '"Managed"="N"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' \
        '"ShowCrashDialog"=dword:00000000' '' >"$reg"
    # The printer simulator's bidi classes, served by the simulated spooler DLL of this build.
    local dll
    dll=$(winepath_of "$build/bin/winspool.drv")
    dll=${dll//\\/\\\\}
    local clsid
    for clsid in '{2A614240-A4C5-4C33-BD87-1BC709331639}' '{B9162A23-45F9-47CC-80F5-FE0FE9B9E1A2}'; do
        printf '%s\r\n' "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\${clsid}\\InprocServer32]" \
            "@=\"$dll\"" '"ThreadingModel"="Both"' '' >>"$reg"
    done
    # Applied again whenever the settings change.
    if ! cmp -s "$reg" "$WINEPREFIX/.quenlo-applied.reg"; then
        DISPLAY= wine64 regedit /S "$(winepath_of "$reg")" >/dev/null 2>&1
        wineserver -w
        cp "$reg" "$WINEPREFIX/.quenlo-applied.reg"
    fi
}

winepath_of() {
    # Z: maps the host root in every prefix.
    printf 'Z:%s' "${1//\//\\}"
}

xvfb_pid=
cleanup() {
    local rc=$?
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    exit $rc
}

(
    flock 9
    make_prefix
) 9>"$build/.wineprefix.lock"

trap cleanup EXIT INT TERM
if [ "${QUENLO_DISPLAY:-}" != user ] || [ -z "${DISPLAY:-}" ]; then
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r dnum <"$fifo" || true
    rm -f "$fifo"
    if [ -z "${dnum:-}" ]; then
        echo "wine-run: Xvfb did not start" >&2
        exit 1
    fi
    export DISPLAY=:$dnum
fi
export QUENLO_WINE_SESSION=1
# Start the Wine services and the desktop process now, detached from our output: they outlive the
# process that starts them, and a caller that waits for its pipes to close (CTest) would
# otherwise wait for them until the session ends.
wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true

set +e
case "$1" in
*.exe | *.EXE) wine64 "$@" ;;
*) "$@" ;;
esac
rc=$?
set -e
exit $rc

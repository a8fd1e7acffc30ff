#!/bin/sh
# Runs one Windows test program under 64-bit Wine: the cross-compiling
# emulator of the windows preset, so `ctest --preset windows` works on its own.
#
#   wine-run.sh WINE64 PROGRAM.exe [ARGUMENTS...]
#
# Wine keeps a server and a few service processes running in the background.
# Started from a test, they would inherit ctest's output pipes and ctest
# would wait for them forever; so before the first program runs, a server
# and the prefix's services are started here with no standard streams.
# Without a WINEPREFIX of the caller's, the prefix lives under the temporary
# folder. The server stops by itself a minute after the last program ends,
# or at once with `wineserver -k` (scripts/windows-lane.sh does that).
set -eu

wine64="$1"
shift

: "${WINEPREFIX:=${TMPDIR:-/tmp}/pennaro-wine-$(id -u)/prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

wineserver="$(dirname "$wine64")/wineserver"
[ -x "$wineserver" ] || wineserver=wineserver

mkdir -p "$WINEPREFIX"
(
    # One set-up at a time when ctest runs programs in parallel. The lock's
    # descriptor is closed for Wine's processes, which outlive this script.
    flock 9
    # Exit status 0: no server was running for this prefix and one started.
    if "$wineserver" -p60 </dev/null >/dev/null 2>&1 9>&-; then
        "$wine64" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$WINEPREFIX.lock"

exec "$wine64" "$@"

# Sourced by the scripts that run Windows programs under Wine: finds wine64
# and its wineserver, makes a private prefix in a temporary folder
# ($wine_tmp, also room for the caller's files; removed on exit after the
# server is stopped) with no display, and starts a persistent server first,
# so that no program run later has to start one that would outlive it
# holding the caller's output pipes; then the prefix, with Wine's background
# services started here, detached from the caller.
wine64="$(dpkg -L wine64 | grep -E '/lib/.*/wine64$' | head -n1)"
[[ -x "$wine64" ]] || wine64=/usr/lib/wine/wine64
wineserver="$(dirname "$wine64")/wineserver"
[[ -x "$wineserver" ]] || wineserver="$(command -v wineserver)"

wine_tmp="$(mktemp -d "${TMPDIR:-/tmp}/pennaro-wine.XXXXXX")"
export WINEPREFIX="$wine_tmp/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
stop_wine() {
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w >/dev/null 2>&1 || true
    rm -rf "$wine_tmp"
}
trap stop_wine EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$WINEPREFIX"
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine64" wineboot -i </dev/null >/dev/null 2>&1

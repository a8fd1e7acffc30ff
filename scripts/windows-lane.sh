#!/usr/bin/env bash
# The Windows lane: cross-builds pennaro.dll and the tests with MinGW-w64,
# checks what the DLL exports and imports, and runs the tests under Wine.
#
#   scripts/windows-lane.sh                   install what is missing, build, check, test
#   scripts/windows-lane.sh --no-install      same, without apt-get
#   scripts/windows-lane.sh --no-cross-check  skip comparing frames with the Linux build
#
# Runs as root on Debian 12 (installs with apt-get when something is missing).
# Wine gets a prefix and a server of its own under a temporary folder, with
# no display; the server is stopped on every way out of this script, or
# ctest would wait forever on Wine's background processes.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

install=1
cross_check=1
for arg in "$@"; do
    case "$arg" in
        --no-install) install=0 ;;
        --no-cross-check) cross_check=0 ;;
        -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "windows-lane: unknown option $arg" >&2; exit 2 ;;
    esac
done

say() { printf '== windows lane: %s\n' "$*"; }
started=$SECONDS

# ---- packages
packages=(g++-mingw-w64-x86-64-posix wine64 wine libstb-dev googletest nlohmann-json3-dev cmake make)
missing=()
for p in "${packages[@]}"; do
    state="$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)"
    [[ "$state" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
    if ((install == 0)); then
        echo "windows-lane: missing packages: ${missing[*]}" >&2
        exit 1
    fi
    say "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # With recommends, as the lane was proven with (libwine's recommended
    # libraries among them).
    apt-get install -y -qq "${missing[@]}" >/dev/null
fi
say "packages ready after $((SECONDS - started)) s"

# ---- build
cmake --preset windows >/dev/null
cmake --build --preset windows
dll="$here/build/windows/pennaro.dll"
[[ -f "$dll" ]] || { echo "windows-lane: $dll was not built" >&2; exit 1; }
say "built after $((SECONDS - started)) s"

# ---- exports and imports of the DLL
objdump=x86_64-w64-mingw32-objdump
exports="$("$objdump" -p "$dll" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { inTable = 1; next }
    inTable && /^[ \t]*\[ *[0-9]+\]/ { print $NF; next }
    inTable { inTable = 0 }' | sort)"
expected="$(printf '%s\n' FilterMain PluginDataEntryFunction)"
if [[ "$exports" != "$expected" ]]; then
    echo "windows-lane: pennaro.dll must export exactly FilterMain and PluginDataEntryFunction; it exports:" >&2
    echo "${exports:-(nothing)}" >&2
    exit 1
fi
imports="$("$objdump" -p "$dll" | awk '/DLL Name:/ { print $3 }' | sort -u)"
bad_imports=""
while read -r name; do
    [[ -z "$name" ]] && continue
    case "${name,,}" in
        kernel32.dll|msvcrt.dll|ucrtbase.dll|ntdll.dll|user32.dll|advapi32.dll|api-ms-win-*.dll) ;;
        *) bad_imports+="$name " ;;
    esac
done <<<"$imports"
if [[ -n "$bad_imports" ]]; then
    echo "windows-lane: pennaro.dll imports DLLs that are not part of Windows: $bad_imports" >&2
    exit 1
fi
say "pennaro.dll exports $(echo $exports) and imports only $(echo $imports)"

# ---- Wine: a private prefix and server, no display
# shellcheck source=scripts/wine-prefix.sh
source scripts/wine-prefix.sh
say "Wine prefix ready after $((SECONDS - started)) s"

# ---- tests
status=0
ctest --preset windows </dev/null || status=$?
say "tests done after $((SECONDS - started)) s"

# ---- the same frames from both libraries, compared directly
# The reference frames above compare each library with the expected files;
# here every frame rendered by the DLL under Wine is compared with the one
# the Linux library renders, byte for byte, whatever the expected files say.
# Needs the Linux build of the tests (build/default, made by the Linux lane).
if ((cross_check)) && [[ -f build/default/CMakeCache.txt ]]; then
    cmake --build build/default --target reference_test pennaro >/dev/null
    linux_test=build/default/tests/reference/reference_test
    windows_test=build/windows/tests/reference/reference_test.exe
    mkdir -p "$wine_tmp/frames-linux" "$wine_tmp/frames-windows"
    filter='--gtest_filter=Conformance/ReferenceFrame.*'
    PENNARO_FRAME_DUMP_DIR="$wine_tmp/frames-linux" "$linux_test" "$filter" </dev/null >/dev/null 2>&1 || true
    PENNARO_FRAME_DUMP_DIR="$wine_tmp/frames-windows" "$wine64" "$windows_test" "$filter" </dev/null >/dev/null 2>&1 || true
    linux_count=$(find "$wine_tmp/frames-linux" -name '*.frame' | wc -l)
    windows_count=$(find "$wine_tmp/frames-windows" -name '*.frame' | wc -l)
    if ((linux_count == 0 || linux_count != windows_count)); then
        echo "windows-lane: frames rendered: $linux_count on Linux, $windows_count under Wine" >&2
        status=1
    elif ! diff -r -q "$wine_tmp/frames-linux" "$wine_tmp/frames-windows" >&2; then
        echo "windows-lane: the DLL and the Linux library rendered different frames (listed above)" >&2
        status=1
    else
        say "all $linux_count frames identical from the DLL under Wine and from the Linux library"
    fi
elif ((cross_check)); then
    say "no Linux build in build/default: frames not compared with the Linux library"
fi

say "finished after $((SECONDS - started)) s"
exit $status

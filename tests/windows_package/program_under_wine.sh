#!/usr/bin/env bash
# The Windows program from its package folder, as a user meets it, under Wine and Xvfb, on a
# fresh prefix whose settings Wine itself wrote (`reg add`):
# - `Keyloft.exe --version` writes to a redirected standard output;
# - a session by keyboard and mouse (SESSION, run by the Windows program DRIVER): the window
#   titled Keyloft, the listed applications, a setting added, one changed and one deleted, an
#   application deleted, each read back through the registry API; then the window closed from
#   its menu, and the program ends with status 0.
# Wine runs its own desktop here: with no window manager on the X server, nothing else gives a
# window the focus as a user's click would.
# Usage: program_under_wine.sh FOLDER WINE DRIVER SESSION [SCREENSHOT.png]
set -euo pipefail
folder=$(realpath "$1") wine=$2 driver=$(realpath "$3") session=$(realpath "$4")
shot=${5:+$(realpath -m "$5")}
work=$(mktemp -d)
trap 'tail -n 5 "$work/keyloft.log" 2>/dev/null; WINEPREFIX=$work/prefix wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$wine" wineboot --init >"$work/wineboot.log" 2>&1 ||
    fail "wineboot --init: status $?: $(tail -n 3 "$work/wineboot.log")"
add() { "$wine" reg add "$1" /v "$2" /d "$3" /f >/dev/null || fail "reg add $1 /v $2: status $?"; }
base='HKCU\Software\VB and VBA Program Settings'
add "$base\\Sample App\\Window" Top 100
add "$base\\Other\\Startup" Mode fast
add 'HKCU\Software\Wine\Explorer' Desktop Default
add 'HKCU\Software\Wine\Explorer\Desktops' Default 800x600

timeout 60 "$wine" "$folder/Keyloft.exe" --version >"$work/version.txt" ||
    fail "Keyloft.exe --version: status $?"
[ "$(tr -d '\r' <"$work/version.txt")" = "Keyloft 1.3.0" ] ||
    fail "Keyloft.exe --version wrote '$(cat "$work/version.txt")'"
echo "ok: Keyloft.exe --version to a redirected stdout"

# The desktop a prefix's first program starts keeps its display: none so far, so a fresh one.
wineserver -k 2>/dev/null || true
wineserver -w
echo "wait Keyloft=1" >"$work/shown.txt"
export folder wine driver session shot work
timeout 300 xvfb-run -a -s "-screen 0 800x600x24" bash -uo pipefail -c '
"$wine" "$folder/Keyloft.exe" >"$work/keyloft.log" 2>&1 &
keyloft=$!
if [ -n "$shot" ]; then
    "$wine" "$driver" "$work/shown.txt" >/dev/null && import -window root "$shot"
fi
if ! "$wine" "$driver" "$session"; then
    import -window root "$work/failed.png" && cp "$work/failed.png" "$PWD/windows_package-failed.png" &&
        echo "the screen when it failed: $PWD/windows_package-failed.png" >&2
    exit 1
fi
wait "$keyloft" || { echo "FAIL: Keyloft.exe ended with status $?" >&2; exit 1; }
echo "ok: Keyloft.exe ended with status 0"
'

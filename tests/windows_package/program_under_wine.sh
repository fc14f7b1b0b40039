#!/usr/bin/env bash
# The Windows program from its package folder, as a user meets it, under Wine and Xvfb, on a
# fresh prefix whose settings Wine itself wrote (`reg add`):
# - `Keyloft.exe --version` writes to a redirected standard output;
# - the window opens, titled "Keyloft", and stays up.
# Driving it by keyboard is not done here yet: under Xvfb the keys xdotool sends reach no Wine
# window (without a window manager, and with twm); inside Wine's own virtual desktop they do, but
# its windows are then no X windows to wait for.
# Usage: program_under_wine.sh FOLDER WINE [SCREENSHOT.png]
set -euo pipefail
folder=$(realpath "$1") wine=$2 shot=${3:+$(realpath -m "$3")}
work=$(mktemp -d)
trap 'tail -n 5 "$work/keyloft.log" 2>/dev/null; WINEPREFIX=$work/prefix wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$wine" wineboot --init >/dev/null 2>&1
base='HKCU\Software\VB and VBA Program Settings'
"$wine" reg add "$base\\Sample App\\Window" /v Top /d 100 /f >/dev/null
"$wine" reg add "$base\\Other\\Startup" /v Mode /d fast /f >/dev/null

timeout 60 "$wine" "$folder/Keyloft.exe" --version >"$work/version.txt" ||
    fail "Keyloft.exe --version: status $?"
[ "$(tr -d '\r' <"$work/version.txt")" = "Keyloft 1.2.1" ] ||
    fail "Keyloft.exe --version wrote '$(cat "$work/version.txt")'"
echo "ok: Keyloft.exe --version to a redirected stdout"

# The desktop a prefix's first program starts keeps its display: none so far, so a fresh one.
wineserver -k 2>/dev/null || true
wineserver -w
export folder wine shot work
timeout 300 xvfb-run -a -s "-screen 0 800x600x24" bash -euo pipefail -c '
fail() { echo "FAIL: $*" >&2; exit 1; }
"$wine" "$folder/Keyloft.exe" >"$work/keyloft.log" 2>&1 &
# The newest window titled $1 once exactly ${2:-1} such are shown, within 60 s.
shown() {
    for _ in $(seq 120); do
        wins=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | sort -n || true)
        [ "$(printf "%s" "$wins" | grep -c .)" -eq "${2:-1}" ] && return 0
        sleep 0.5
    done
    fail "not ${2:-1} windows titled \"$1\" within 60 s; shown: $(for w in $(xdotool search \
        --onlyvisible --name . 2>/dev/null); do printf "[%s] " "$(xdotool getwindowname "$w")"; done)"
}
shown Keyloft
echo "ok: the window is titled Keyloft"
sleep 2
[ -z "$shot" ] || import -window root "$shot"
shown Keyloft
echo "ok: the window stays up"
'

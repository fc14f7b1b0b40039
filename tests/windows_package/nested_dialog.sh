#!/usr/bin/env bash
# Runs keyloft_nested_dialog (nested_dialog.cpp) under Wine and Xvfb as program_under_wine.sh runs
# Keyloft.exe, driven by keyloft_drive through ROUNDS rounds of: click the row, double-click it,
# click the fourth box, Ctrl+A, 200, Tab, Space, answer the question, Esc. Exits 1 at the first
# round that fails (the dialog no longer takes input), leaving the driver's steps on stdout.
# With --trace, the program's messages (see nested_dialog.cpp) go to TRACE_FILE.
# Usage: nested_dialog.sh PACKAGE_FOLDER WINE DRIVER PROGRAM ROUNDS [TRACE_FILE]
set -euo pipefail
folder=$(realpath "$1") wine=$2 driver=$(realpath "$3") program=$(realpath "$4") rounds=$5
trace=${6:+$(realpath -m "$6")}
work=$(mktemp -d)
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
WINEDEBUG=-all "$wine" wineboot --init >/dev/null 2>&1
WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null
wineserver -w
# The program beside Qt's DLLs and plugins, as in Keyloft's package.
cp -a "$folder" "$work/app"
cp "$program" "$work/app/"
{
    echo "wait Repro=1"
    for ((i = 1; i <= rounds; i++)); do
        printf '%s\n' "# round $i" "click 60,10" "dblclick 60,10" "wait Edit=1" "click 50,142" \
            "key ctrl+a" "type 200" "key tab" "key space" "wait Question=1" "key return" \
            "wait Question=0" "key escape" "wait Edit=0" "wait Repro=1"
    done
} >"$work/session.txt"
export work trace driver wine program=$work/app/$(basename "$program")
timeout $((60 + 30 * rounds)) xvfb-run -a -s "-screen 0 800x600x24" bash -uo pipefail -c '
if [ -n "$trace" ]; then
    "$wine" "$program" --trace 2>"$trace" &
else
    WINEDEBUG=-all "$wine" "$program" >/dev/null 2>&1 &
fi
WINEDEBUG=-all "$wine" "$driver" "$work/session.txt" || {
    import -window root "$work/failed.png" && cp "$work/failed.png" "$PWD/nested_dialog-failed.png"
    exit 1
}
'

#!/usr/bin/env bash
# The Windows program from its package folder, as a user meets it, under Wine and Xvfb, on a
# fresh prefix whose settings Wine itself wrote (`reg add`):
# - `Keyloft.exe --version` writes to a redirected standard output;
# - the window is titled "Keyloft";
# - the root shows the identity Windows' own calls report (Wine's %COMPUTERNAME%(%USERNAME%)),
#   read from the message box that refuses to delete it, whose text Ctrl+C copies on Windows;
# - the applications Wine wrote are listed: the first below the root is the one Wine sorts first;
# - a setting typed into the dialog (Ctrl+N, Tab between the boxes, OK, OK) is read back by `reg query`, and deleted.
# Keys go to the window with the focus, as a user's do (xdotool), and the clipboard is read
# through X (xclip), where Wine hands it over.
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
identity=$("$wine" cmd /c 'echo %COMPUTERNAME%(%USERNAME%)' | tr -d '\r')

timeout 60 "$wine" "$folder/Keyloft.exe" --version >"$work/version.txt" ||
    fail "Keyloft.exe --version: status $?"
[ "$(tr -d '\r' <"$work/version.txt")" = "Keyloft 1.2.1" ] ||
    fail "Keyloft.exe --version wrote '$(cat "$work/version.txt")'"
echo "ok: Keyloft.exe --version to a redirected stdout"

# The desktop a prefix's first program starts keeps its display: none so far, so a fresh one.
wineserver -k 2>/dev/null || true
wineserver -w
export folder wine shot identity base work
timeout 300 xvfb-run -a -s "-screen 0 800x600x24" bash -euo pipefail -c '
fail() { echo "FAIL: $*" >&2; exit 1; }
"$wine" "$folder/Keyloft.exe" >"$work/keyloft.log" 2>&1 &
# Gives the focus to the newest window titled $1 once exactly ${2:-1} such are shown, within
# 60 s, with a click at ${3:-5},${4:-5} in it: under Xvfb no window manager does it.
active() {
    for _ in $(seq 120); do
        wins=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | sort -n || true)
        if [ "$(printf "%s" "$wins" | grep -c .)" -eq "${2:-1}" ]; then
            xdotool mousemove --window "$(printf "%s\n" "$wins" | tail -n 1)" "${3:-5}" "${4:-5}" \
                click 1

            sleep 0.5
            return 0
        fi
        sleep 0.5
    done
    fail "not ${2:-1} windows titled \"$1\" within 60 s; shown: $(for w in $(xdotool search \
        --onlyvisible --name . 2>/dev/null); do printf "[%s] " "$(xdotool getwindowname "$w")"; done)"
}
key() { xdotool key --delay 100 "$@"; sleep 0.5; }
# The text of the message box that has the focus, as Ctrl+C copies it.
box_text() {
    active Keyloft 2
    printf "" | xclip -selection clipboard
    key ctrl+c
    xclip -o -selection clipboard 2>/dev/null | tr -d "\r"
}
query() { "$wine" reg query "$base\\$1" 2>/dev/null | tr -d "\r" | tr -s " " || true; }

root() { active Keyloft 1 71 32; } # a click on the root node: selected, the tree focused
root
echo "ok: the window is titled Keyloft"
sleep 1
[ -z "$shot" ] || import -window root "$shot"

root
key Delete
text=$(box_text)
case $text in *"$identity"*) ;; *) fail "the root does not show $identity: $text" ;; esac
key Return
echo "ok: the root shows $identity"

root
key Down Delete
text=$(box_text)
case $text in *"アプリケーション「Other」"*) ;; *) fail "the first application is not Other: $text" ;; esac
key Escape
echo "ok: the applications Wine wrote are listed"

root
key ctrl+n
active "値の操作"
xdotool type --delay 50 "Added"; key Tab
xdotool type --delay 50 "Section"; key Tab
xdotool type --delay 50 "Key"; key Tab
xdotool type --delay 50 "value 1"; key Tab space
text=$(box_text)
case $text in *"入力した情報で登録します"*) ;; *) fail "no confirmation: $text" ;; esac
key Return
sleep 1
active "値の操作"
key Escape # the dialog stays open for the next setting
case $(query "Added\\Section") in *"Key REG_SZ value 1"*) ;;
    *) fail "wine reg query does not read the setting back: $(query "Added\\Section")" ;; esac
echo "ok: a setting added through the dialog is read back by wine reg query"

root
key F5
root
key Down Delete
text=$(box_text)
case $text in *"アプリケーション「Added」"*) ;; *) fail "not asked to delete Added: $text" ;; esac
key shift+Tab space
sleep 1
[ -z "$(query "Added")" ] || fail "Added is still there: $(query "Added")"
echo "ok: the application deleted through the window is gone for wine reg query"
key ctrl+w
'

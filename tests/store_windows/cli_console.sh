#!/bin/sh
# keyloft-cli.exe as cmd.exe or a script starts it under Wine: its output redirected (UTF-8) and
# its exit status, on the prefix's registry.
# Usage: cli_console.sh WINE PROGRAM
set -u
wine=$1 cli=$2
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failed=0
check() {
    status=$1 output=$2
    shift 2
    "$wine" "$cli" "$@" >"$out" 2>"$err"
    got=$?
    if [ "$got" -ne "$status" ] || [ "$(cat "$out")" != "$output" ]; then
        printf 'keyloft-cli.exe %s: status %s, output:\n%s\nerrors:\n%s\n\n' "$*" "$got" \
            "$(cat "$out")" "$(cat "$err")"
        failed=1
    fi
}
check 0 "" set "日本語のアプリ" "設定" "鍵" "値 😀"
check 0 "値 😀" get "日本語のアプリ" "設定" "鍵"
check 0 '"値 😀"' get --json "日本語のアプリ" "設定" "鍵"
check 1 "" get "日本語のアプリ" "設定" "none"
check 2 "" --bogus
check 2 "" list --prefix x
check 3 "" set A 'x\\y' k v
check 0 "" delete "日本語のアプリ"
# The Kelvin sign is no K to the registry, nor to the command line's own look for a name.
check 0 "" set kapp S1 k v
check 0 "" set "Kapp" S2 k v
check 0 "S2" list "Kapp"
check 0 "S1" list KAPP
check 0 "" delete kapp
check 0 "S2" list "Kapp"
check 0 "" delete "Kapp"
exit $failed

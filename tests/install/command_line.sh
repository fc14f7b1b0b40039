#!/bin/sh
# The program's command line, as a terminal user meets it: help and version without a display,
# a PREFIX that is no Wine prefix refused with one line before any window, Qt's own options taken,
# and a PREFIX (its folder or its user.reg) opened in place of $WINEPREFIX.
# Usage: command_line.sh PROGRAM
set -u
program=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
not_prefix='は Wine のプレフィックスではありません（user.reg のあるフォルダーか、その user.reg を指定してください）。'

# run STATUS FIRST_LINE ERRORS ARGUMENT...: runs the program without a display; compares its exit
# status, the first line of its output and all it wrote to standard error.
run() {
    status=$1 line=$2 errors=$3
    shift 3
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LANG=C.UTF-8 WINEPREFIX="$dir/other" \
        "$program" "$@" >"$dir/out" 2>"$dir/err"
    got=$?
    if [ "$got" -ne "$status" ] || [ "$(head -n 1 "$dir/out")" != "$line" ] ||
        [ "$(grep -v XDG_RUNTIME_DIR "$dir/err")" != "$errors" ]; then
        printf 'keyloft %s: status %s, output:\n%s\nerrors:\n%s\n\n' "$*" "$got" \
            "$(cat "$dir/out")" "$(cat "$dir/err")"
        failed=1
    fi
}

mkdir "$dir/prefix" "$dir/other" "$dir/empty"
for prefix in prefix other; do
    printf 'WINE REGISTRY Version 2\n' >"$dir/$prefix/user.reg"
    printf 'WINE REGISTRY Version 2\n' >"$dir/$prefix/system.reg"
done

run 0 "Keyloft 1.3.0" "" --version
run 0 "使い方: $program [オプション] [PREFIX]" "" --help
run 0 "Keyloft 1.3.0" "" -platform offscreen --version
run 2 "" "keyloft: 「$dir/empty」$not_prefix" "$dir/empty"
run 2 "" "keyloft: 「$dir/prefix/system.reg」$not_prefix" "$dir/prefix/system.reg"
run 2 "" "keyloft: 「$dir/none/user.reg」$not_prefix" "$dir/none/user.reg"
run 2 "" "keyloft: 余分な引数があります: $dir/other" "$dir/prefix" "$dir/other"
run 2 "" "keyloft: 'bogus' は未知のオプションです。" -platform offscreen --bogus
run 2 "" "keyloft: 'bogus' は未知のオプションです。" --bogus

# Offscreen for a few seconds under strace: the user.reg it reads is the named prefix's.
for named in "$dir/prefix" "$dir/prefix/user.reg"; do
    trace="$dir/trace.$(basename "$named")"
    WINEPREFIX="$dir/other" QT_QPA_PLATFORM=offscreen \
        strace -f -qq -e trace=openat -o "$trace" timeout 3 "$program" "$named" 2>/dev/null &
done
wait
for trace in "$dir"/trace.*; do
    opened=$(grep -F user.reg "$trace" | grep -v ' = -1 ' | sed 's/^[^"]*"\([^"]*\)".*/\1/' |
        sort -u)
    if [ "$opened" != "$dir/prefix/user.reg" ]; then
        printf '%s: opened %s\n' "$trace" "${opened:-no user.reg}"
        failed=1
    fi
done
exit $failed

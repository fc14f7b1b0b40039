#!/bin/sh
# Starts the installed program offscreen for a few seconds under strace and checks that it is
# still running then (no crash, no early exit) and that Qt's Japanese texts came from the
# installed tree: the only qtbase_ja.qm it opens is the expected one, since the program stops
# looking once one loads. So the program needs no hook of its own for the test.
# Usage: program_starts.sh PROGRAM EXPECTED_QM
set -u
program=$1 qm=$2
traces=$(mktemp -d)
trap 'rm -rf "$traces"' EXIT
# One trace file per thread (-ff), so no call is split across lines. A prefix that does not
# exist: never the user's ~/.wine.
WINEPREFIX="$traces/no-prefix" QT_QPA_PLATFORM=offscreen \
    strace -ff -qq -e trace=openat -o "$traces/trace" timeout 3 "$program"
status=$?
if [ "$status" -ne 124 ]; then
    echo "$program ended by itself within 3 s, status $status"
    exit 1
fi
opened=$(cat "$traces"/trace.* | grep -F qtbase_ja.qm | grep -v ' = -1 ' |
    sed 's/^[^"]*"\([^"]*\)".*/\1/' | xargs -r -d '\n' realpath)
if [ "$opened" != "$(realpath "$qm")" ]; then
    echo "expected Qt's Japanese texts from $qm; opened: ${opened:-none}"
    exit 1
fi

#!/usr/bin/env bash
# Runs the package session (the ctest test windows_package.program, with the command ctest has)
# RUNS times, AT_ONCE at a time, each in a folder of its own, and says how many passed: a fault
# that shows once in many sessions, or only under load, shows here. Each run's output is kept in
# BUILD_DIR/windows_package-repeat/N.log (and the screen of a failed one beside it); the load
# average is printed as each run ends.
# Usage: tests/windows_package/repeat_session.sh RUNS AT_ONCE [BUILD_DIR]   (default build/windows)
set -euo pipefail
runs=$1 at_once=$2 build=$(realpath "${3:-build/windows}")
out=$build/windows_package-repeat
rm -rf "$out"
mkdir -p "$out"
# The test's command line, as ctest would run it.
ctest --test-dir "$build" -R '^windows_package\.program$' --show-only=json-v1 >"$out/test.json"
mapfile -t command < <(python3 -c '
import json, sys
tests = json.load(open(sys.argv[1]))["tests"]
print("\n".join(tests[0]["command"]))' "$out/test.json")
[ "${#command[@]}" -gt 0 ] || { echo "no test windows_package.program in $build" >&2; exit 1; }

one() {
    mkdir -p "$out/$1"
    if (cd "$out/$1" && "${command[@]}") >"$out/$1.log" 2>&1; then
        rm -rf "$out/${1:?}"
        echo "run $1: passed (load $(cut -d' ' -f1-3 /proc/loadavg))"
    else
        echo "run $1: FAILED (load $(cut -d' ' -f1-3 /proc/loadavg)): $(grep -m1 FAIL "$out/$1.log")"
        touch "$out/$1.failed"
    fi
}
start=$SECONDS
for ((n = 1; n <= runs; n++)); do
    while [ "$(jobs -rp | wc -l)" -ge "$at_once" ]; do wait -n || true; done
    one "$n" &
done
wait
failed=$(find "$out" -name '*.failed' | wc -l)
echo "$((runs - failed)) of $runs sessions passed, $at_once at a time, in $(((SECONDS - start) / 60)) min"
[ "$failed" -eq 0 ]

#!/bin/sh
# Beneath the launcher a 64-bit program runs as usual, under the seccomp filter, and the probe
# says no 32-bit program runs; outside it the probe says yes, where the machine runs them.
# Usage: probe_32bit.sh SCRIPTS_DIR beneath|outside
scripts=$1
case $2 in
beneath)
    "$scripts/without-32bit" grep -q '^Seccomp:[[:space:]]*2$' /proc/self/status ||
        { echo "FAIL: no seccomp filter beneath the launcher"; exit 1; }
    if said=$("$scripts/without-32bit" "$scripts/runs-32bit"); then
        echo "FAIL: beneath the launcher the probe said: $said"
        exit 1
    fi
    echo "$said" ;;
outside)
    said=$("$scripts/runs-32bit") || { echo "skipped: this machine's kernel itself runs no" \
        "32-bit programs, so the probe cannot say yes here ($said)"; exit 77; }
    echo "$said" ;;
*)
    exit 2 ;;
esac

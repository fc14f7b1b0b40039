#!/usr/bin/env bash
# Cold start of the real program: milliseconds from launch until its window is mapped under
# Xvfb, and its resident memory (VmRSS) at that moment; median of RUNS starts each on a fresh
# Wine prefix (wineboot --init, a user.reg of about 30 KB) and on the same prefix with its
# user.reg grown to about 8.4 MB of VB settings. Not part of scripts/test.
# Usage: bench/cold_start.sh [RUNS] [MEGABYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
megabytes=${2:-8.4}

cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKEYLOFT_BUILD_TESTS=OFF -DKEYLOFT_BUILD_BENCH=OFF >/dev/null
cmake --build build/run --target keyloft >/dev/null
program=$PWD/build/run/app/keyloft

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(scripts/wine-loader) # `wine` itself may not start here
"$wine" wineboot --init 2>/dev/null
wineserver -w # saved and gone: Keyloft reads the file as Wine left it

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
report() { # label results-file; leaves size, ms and rss (KiB) of the medians
    size=$(stat -c %s "$WINEPREFIX/user.reg")
    ms=$(cut -d' ' -f1 "$2" | median)
    rss=$(cut -d' ' -f2 "$2" | median)
    printf '%-14s user.reg %9d bytes  window after %7.1f ms  VmRSS %7.1f MiB   (%s runs; ms: %s)\n' \
        "$1" "$size" "$ms" "$(awk -v k="$rss" 'BEGIN {print k / 1024}')" "$runs" \
        "$(cut -d' ' -f1 "$2" | tr '\n' ' ')"
}
measure() { # results-file
    xvfb-run -a -s "-screen 0 1024x768x24" python3 bench/cold_start.py measure "$runs" "$program" >"$1"
}

measure "$work/fresh"
report "fresh prefix" "$work/fresh"
fresh_ms=$ms fresh_rss=$rss
python3 bench/cold_start.py grow "$WINEPREFIX/user.reg" "$megabytes" >/dev/null
# Wine reads the grown file as its own (a file it could not parse Keyloft would show empty).
"$wine" reg query 'HKCU\Software\VB and VBA Program Settings\App0001\Section01' /v Key0002 |
    grep -q 'REG_SZ' || { echo "Wine does not read the grown user.reg" >&2; exit 1; }
wineserver -w
measure "$work/grown"
report "grown prefix" "$work/grown"
# The targets: start-up on the grown prefix within 1.5 times the fresh one, and the extra
# resident memory under 3 times the file's size.
awk -v f="$fresh_ms" -v g="$ms" -v fr="$fresh_rss" -v gr="$rss" -v size="$size" 'BEGIN {
    printf "grown/fresh start-up %.2fx (target <= 1.5x); extra memory %.1f MiB = %.2fx the file (target < 3x)\n",
        g / f, (gr - fr) / 1024, (gr - fr) * 1024 / size }'

#!/bin/sh
# Installs the build into a fresh DESTDIR and compares the installed files with the expected ones.
# Usage: install_tree.sh CMAKE BUILD_DIR DESTDIR EXPECTED_FILE...  (absolute paths, DESTDIR aside)
set -eu
cmake=$1 build=$2 destdir=$3
shift 3
rm -rf "$destdir"
DESTDIR="$destdir" "$cmake" --install "$build" >/dev/null
printf '%s\n' "$@" | sort >"$destdir.expected"
(cd "$destdir" && find . ! -type d | sed 's|^\.||' | sort) >"$destdir.installed"
# A file missing, misplaced or too many: the diff names it.
diff -u "$destdir.expected" "$destdir.installed"

#!/bin/sh
# An install moved after `cmake --install` into a folder named with a space and Japanese: the
# About box's link, read by the About box's test copied beside the moved program, leads to the
# README that was installed with it.
# Usage: moved_tree.sh CMAKE BUILD_DIR ABOUT_TEST WORK_DIR
set -eu
cmake=$1 build=$2 about_test=$3 work=$4
case $work in *[!A-Za-z0-9/._-]*) echo "moved_tree: $work would need encoding itself"; exit 1 ;; esac
rm -rf "$work"
"$cmake" --install "$build" --prefix "$work/first" >/dev/null
mkdir "$work/テスト フォルダ"
mv "$work/first" "$work/テスト フォルダ/Keyloft"
moved="$work/テスト フォルダ/Keyloft"
cp "$about_test" "$moved/bin/"
readme="$moved/share/doc/keyloft/README.md"
[ -f "$readme" ] || { echo "moved_tree: no $readme"; exit 1; }
KEYLOFT_EXPECTED_HOME_PAGE="file://$work/%E3%83%86%E3%82%B9%E3%83%88%20%E3%83%95%E3%82%A9%E3%83%AB%E3%83%80/Keyloft/share/doc/keyloft/README.md" \
    QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 "$moved/bin/$(basename "$about_test")" \
    linkAndClosing addressShown

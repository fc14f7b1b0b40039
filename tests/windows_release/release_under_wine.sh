#!/usr/bin/env bash
# The Windows release under Wine, on a fresh prefix:
# - the zip unpacked into a folder named with a space and Japanese: the About box's link (read by
#   the About box's test, put beside Keyloft.exe) leads to the README beside Keyloft.exe;
# - the installer, silently, with a setting of the user's in place: the files, the Start-menu
#   shortcut and the uninstall entry (read through the registry API), the installed
#   Keyloft.exe --version; again over it; then the uninstaller, silently: all of it gone, and the
#   user's setting still there.
# Usage: release_under_wine.sh WINE PACKAGE_DIR NAME VERSION REGISTRY_CHECK ABOUT_TEST QT_PREFIX
set -euo pipefail
wine=$1 package=$2 name=$3 version=$4 check=$5 about_test=$6 qt=$7
work=$(mktemp -d)
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
"$wine" wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot --init: $(tail -n 3 "$work/wineboot.log")"
user=$("$wine" cmd /c 'echo %USERNAME%' | tr -d '\r')
home=$WINEPREFIX/drive_c/users/$user
registry() { "$wine" "$check" "$1" | tr -d '\r'; }

# The zip, unpacked where a user may put it.
mkdir -p "$home/テスト フォルダ"
unzip -q "$package/$name.zip" -d "$home/テスト フォルダ"
unpacked="$home/テスト フォルダ/Keyloft"
mv "$home/テスト フォルダ/$name" "$unpacked"
# With what the test needs beyond the program's own: QtTest and the offscreen platform.
cp "$about_test" "$qt/bin/Qt6Test.dll" "$unpacked/"
cp "$qt/plugins/platforms/qoffscreen.dll" "$unpacked/platforms/"
KEYLOFT_EXPECTED_HOME_PAGE="file:///C:/users/$user/%E3%83%86%E3%82%B9%E3%83%88%20%E3%83%95%E3%82%A9%E3%83%AB%E3%83%80/Keyloft/README.md" \
    QT_QPA_FONTDIR=Z:/usr/share/fonts/opentype/noto \
    "$wine" "$unpacked/$(basename "$about_test")" -platform offscreen linkAndClosing addressShown \
    >"$work/about.log" 2>&1 || { cat "$work/about.log"; fail "the About box's link from the unpacked zip"; }
[ -f "$unpacked/README.md" ] || fail "no README.md beside Keyloft.exe"
echo "ok: the About box's link from the zip unpacked into テスト フォルダ"

# The user's own setting, made before installing (the About box's test clears the area it uses).
vb='Software\VB and VBA Program Settings\既存のアプリ\設定'
"$wine" reg add "HKCU\\$vb" /v 鍵 /d "値 ｶﾅ" /f >/dev/null || fail "reg add"

installed=$home/AppData/Local/Programs/Keyloft
shortcut="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Keyloft.lnk"
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Keyloft'
at="C:\\users\\$user\\AppData\\Local\\Programs\\Keyloft"
expected_entry="DisplayIcon=$at\\Keyloft.exe
DisplayName=Keyloft
DisplayVersion=$version
EstimatedSize=KB
InstallLocation=$at
NoModify=1
NoRepair=1
Publisher=Keyloft developers
QuietUninstallString=\"$at\\uninstall.exe\" /S
UninstallString=\"$at\\uninstall.exe\""
(cd "$package/$name" && find . -type f | sed 's|^\./||'; echo uninstall.exe) | LC_ALL=C sort >"$work/expected"
installed_ok() {
    (cd "$installed" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/files"
    diff -u "$work/expected" "$work/files" || fail "$1: the installed files differ"
    cmp -s "$package/$name/Keyloft.exe" "$installed/Keyloft.exe" || fail "$1: another Keyloft.exe"
    [ -f "$shortcut" ] || fail "$1: no Start-menu shortcut"
    entry=$(registry "$key" | sed 's/^EstimatedSize=[1-9][0-9]*$/EstimatedSize=KB/' | LC_ALL=C sort)
    [ "$entry" = "$expected_entry" ] || fail "$1: the uninstall entry holds:
$entry"
    echo "ok: $1: files, shortcut and uninstall entry"
}
"$wine" "$package/$name-setup.exe" /S || fail "setup /S: status $?"
installed_ok "installed"
[ "$(timeout 60 "$wine" "$installed/Keyloft.exe" --version | tr -d '\r')" = "Keyloft $version" ] ||
    fail "the installed Keyloft.exe --version"
echo "ok: the installed Keyloft.exe --version"
"$wine" "$package/$name-setup.exe" /S || fail "setup /S over it: status $?"
installed_ok "installed over it"

# The uninstaller runs from a copy of itself in the temporary folder, and its starter returns at
# once: the prefix's processes are waited for.
"$wine" "$installed/uninstall.exe" /S || fail "uninstall.exe /S: status $?"
wineserver -w
[ ! -e "$installed" ] || fail "left after uninstalling: $(cd "$installed" && find . | head)"
[ ! -e "$shortcut" ] || fail "the shortcut is left after uninstalling"
[ "$(registry "$key")" = none ] || fail "the uninstall entry is left: $(registry "$key")"
[ "$(registry "$vb")" = "鍵=値 ｶﾅ" ] || fail "the user's setting became: $(registry "$vb")"
echo "ok: uninstalled: files, shortcut and entry gone, the user's setting kept"

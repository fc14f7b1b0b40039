#!/usr/bin/env bash
# The Debian packages as a user meets them: both installed with apt-get, then used from the
# installed paths alone on a throwaway Wine prefix: keyloft --version; keyloft-cli set, get and
# list; the window under Xvfb, its title seen; a live edit through a running wineserver by the
# bridge the package put in place; the menu entry and metainfo validated; both man pages opened
# with man; bash completing keyloft-cli; the About link's README; then both purged, with none of
# their files left. A step that cannot run on this machine says why and is skipped; when the
# packages cannot be installed at all, the whole case is (exit status 77).
# Usage: debian_package.sh PACKAGE_DIR     (the folder scripts/package-debian filled)
set -uo pipefail
debs=$(realpath "$1")
source_dir=$(realpath "$(dirname "$0")/../..")
work=$(mktemp -d)
installed=0
failed=0
packages=(keyloft keyloft-cli)
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo -n); else sudo=(); fi
export DEBIAN_FRONTEND=noninteractive
apt=("${sudo[@]}" apt-get -q -y -o DPkg::Lock::Timeout=300)
cleanup() {
    WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
    ((installed)) && "${apt[@]}" purge "${packages[@]}" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
skip_all() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    failed=1
}
step_start=$(date +%s.%N)
# step NAME: ends the step before with its time.
step() {
    local now
    now=$(date +%s.%N)
    [ -n "${step_name-}" ] && awk -v a="$step_start" -v b="$now" -v name="$step_name" \
        'BEGIN {printf "%6.1f s  %s\n", b - a, name}'
    step_name=$1 step_start=$now
}

deb() { ls "$debs/$1"_*.deb 2>/dev/null | head -n 1; }
[ -n "$(deb keyloft)" ] && [ -n "$(deb keyloft-cli)" ] || skip_all "no packages in $debs"
if ((${#sudo[@]})) && ! sudo -n true 2>/dev/null; then
    skip_all "installing packages needs root or sudo without a password"
fi
for p in "${packages[@]}"; do
    # A Keyloft the machine's user installed is not the test's to remove.
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
        skip_all "$p is installed on this machine already; the test would purge it"
    fi
done

step "apt-get install of both packages"
installed=1
"${apt[@]}" install "$(deb keyloft-cli)" "$(deb keyloft)" >"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; echo "FAIL: apt-get install"; exit 1; }
dpkg -L "${packages[@]}" | sort -u >"$work/files"
# From here on, only what the packages installed: no path into the source or build tree.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
keyloft=$(command -v keyloft) cli=$(command -v keyloft-cli)
[ "$keyloft" = /usr/bin/keyloft ] && [ "$cli" = /usr/bin/keyloft-cli ] ||
    fail "the programs are not in /usr/bin: '$keyloft', '$cli'"

step "keyloft --version"
[ "$(env -u DISPLAY keyloft --version)" = "Keyloft $(dpkg-query -W -f='${Version}' keyloft)" ] ||
    fail "keyloft --version wrote '$(env -u DISPLAY keyloft --version 2>&1)'"

step "a throwaway Wine prefix (wineboot)"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
wine=$("$source_dir/scripts/wine-loader") || wine=
if [ -n "$wine" ] && "$wine" wineboot --init >"$work/wineboot.log" 2>&1 && wineserver -w; then
    prefix_made=1
else
    # Without Wine the offline commands still run, on a registry file of Wine's format.
    echo "SKIPPED: the live edit: no Wine prefix can be made here ($(tail -n 1 "$work/wineboot.log" 2>/dev/null))"
    prefix_made=0
    mkdir -p "$WINEPREFIX" && printf 'WINE REGISTRY Version 2\n' >"$WINEPREFIX/user.reg"
fi

step "keyloft-cli set, get and list on the prefix"
keyloft-cli set "Sample App" Window Top 100 || fail "keyloft-cli set: status $?"
[ "$(keyloft-cli get "sample app" window top)" = 100 ] || fail "keyloft-cli get"
[ "$(keyloft-cli list)" = "Sample App" ] || fail "keyloft-cli list wrote '$(keyloft-cli list)'"
[ "$(keyloft-cli list "Sample App" Window)" = "Top$(printf '\t')100" ] || fail "keyloft-cli list APP SECTION"

step "the window under Xvfb"
if command -v xvfb-run >/dev/null; then
    # The helper waits for the X server to map a window titled Keyloft.
    xvfb-run -a -s "-screen 0 800x600x24" python3 "$source_dir/bench/cold_start.py" measure 1 \
        "$keyloft" >"$work/window.txt" 2>&1 ||
        fail "no window titled Keyloft: $(cat "$work/window.txt")"
else
    echo "SKIPPED: the window: xvfb-run is not installed"
fi

step "a live edit through a running wineserver"
bridge=/usr/libexec/keyloft/keyloft-bridge-x86_64.exe
if ((prefix_made)); then
    grep -qx "$bridge" "$work/files" || fail "keyloft-cli does not carry $bridge"
    wineserver -p
    # The server holds the registry; the file shows the change only when the server saves it.
    # Its programs traced up to their start only: the bridge's Wine keeps services running.
    timeout 60 strace -f -qq -s 256 --detach-on=execve -e trace=execve -o "$work/trace" \
        keyloft-cli set "Sample App" Window Live yes ||
        fail "keyloft-cli set through the server: status $?"
    grep -qF "\"$bridge\"" "$work/trace" || fail "keyloft-cli did not start $bridge"
    "$wine" reg query 'HKCU\Software\VB and VBA Program Settings\Sample App\Window' /v Live \
        2>/dev/null | grep -q 'REG_SZ *yes' || fail "Wine does not see the live edit"
    grep -q '"Live"' "$WINEPREFIX/user.reg" && fail "the live edit went to user.reg, not to the server"
    [ "$(keyloft-cli get "Sample App" Window Live)" = yes ] || fail "keyloft-cli get through the server"
    wineserver -k
    wineserver -w
fi

step "the menu entry and the metainfo"
for file in /usr/share/applications/io.github.keyloft.Keyloft.desktop \
    /usr/share/metainfo/io.github.keyloft.Keyloft.metainfo.xml; do
    grep -qx "$file" "$work/files" || fail "$file is not installed"
done
desktop-file-validate /usr/share/applications/io.github.keyloft.Keyloft.desktop ||
    fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/io.github.keyloft.Keyloft.metainfo.xml \
    >"$work/appstream.txt" 2>&1 || fail "appstreamcli validate: $(cat "$work/appstream.txt")"

step "the man pages"
for page in keyloft keyloft-cli; do
    where=$(man -w "$page" 2>/dev/null)
    [ "$where" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page: '$where'"
    MANWIDTH=80 man --warnings "$page" 2>"$work/man.err" | grep -q "^${page^^}(1)" ||
        fail "man $page does not open"
    [ -s "$work/man.err" ] && fail "man $page: $(cat "$work/man.err")"
done

step "bash completion"
completion=$(bash -c '
    source /usr/share/bash-completion/bash_completion 2>/dev/null || exit 3
    __load_completion keyloft-cli || exit 4
    function=$(complete -p keyloft-cli | sed -n "s/.*-F \([^ ]*\).*/\1/p")
    COMP_WORDS=(keyloft-cli im) COMP_CWORD=1
    "$function"
    echo "${COMPREPLY[*]}"')
case $? in
0) [ "$completion" = import ] || fail "bash completes 'keyloft-cli im' as '$completion'" ;;
3) echo "SKIPPED: bash completion: the bash-completion package is not installed" ;;
*) fail "bash does not load a completion for keyloft-cli" ;;
esac

step "the About link's README"
# The link names README.md in the documentation folder beside the program's prefix.
readme=/usr/share/doc/keyloft/README.md
grep -qx "$readme" "$work/files" && [ -s "$readme" ] || fail "$readme is not installed as it is"
for address in $(grep -ao 'file:///[^"[:space:][:cntrl:]]*' "$keyloft" | sort -u); do
    [ -f "${address#file://}" ] || fail "the About link $address names no installed file"
done

step "apt-get purge of both packages"
"${apt[@]}" purge "${packages[@]}" >"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; fail "apt-get purge"; }
installed=0
while IFS= read -r path; do
    # Shared folders (/usr/bin, /usr/share/man/man1, ...) stay; Keyloft's own must go.
    if [ -e "$path" ] && { [ ! -d "$path" ] || [[ $path == *keyloft* ]]; }; then
        fail "left after the purge: $path"
    fi
done <"$work/files"
dpkg-query -W "${packages[@]}" >/dev/null 2>&1 && fail "dpkg still knows the packages"
step ""
exit $failed

#!/bin/sh
# keyloft-cli as a script meets it: each command's output and exit status, usage errors, and an
# import refused or dry-run leaving user.reg byte for byte as it was.
# Usage: cli.sh PROGRAM
set -u
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
mkdir "$dir/p" "$dir/none"
printf 'WINE REGISTRY Version 2\n' >"$dir/p/user.reg"

# check STATUS OUTPUT ERRORS ARGUMENT...: the program on the prefix, standard input from $dir/in.
check() {
    status=$1 output=$2 errors=$3
    shift 3
    WINEPREFIX="$dir/none" "$cli" --prefix "$dir/p" "$@" <"$dir/in" >"$dir/out" 2>"$dir/err"
    got=$?
    if [ "$got" -ne "$status" ] || [ "$(cat "$dir/out")" != "$output" ] ||
        [ "$(cat "$dir/err")" != "$errors" ]; then
        printf 'keyloft-cli %s: status %s, output:\n%s\nerrors:\n%s\n\n' "$*" "$got" \
            "$(cat "$dir/out")" "$(cat "$dir/err")"
        failed=1
    fi
}
: >"$dir/in"
tab=$(printf '\t')
help="詳しくは「keyloft-cli --help」を参照してください。"

check 0 "" "" set "My App" Main Name '日本語 "q" \x'
printf 'line 1\nline 2\n' >"$dir/in"
check 0 "" "" set "My App" Main Lines
: >"$dir/in"
check 0 "" "" set "My App" Other -- -k -v
check 0 "My App" "" list
check 0 "Main
Other" "" list "my app"
check 0 "Lines${tab}line 1
line 2

Name${tab}日本語 \"q\" \\x" "" list "My App" Main
check 0 '[{"key": "-k", "value": "-v"}]' "" --json list "My App" Other
check 0 '"line 1\nline 2\n"' "" get --json "My App" Main Lines
check 0 '日本語 "q" \x' "" get "My App" MAIN name
check 1 "" "keyloft-cli: 設定「My App\\Main\\none」はありません。" get "My App" Main none
check 1 "" "keyloft-cli: セクション「My App\\None」はありません。" list "My App" None
check 1 "" "keyloft-cli: アプリケーション「None」はありません。" export None
check 1 "" "keyloft-cli: エラー 5: 削除しようとしたアプリケーション「None」が見つかりません。ほかのプログラムが削除した可能性があります。" delete None
check 2 "" "keyloft-cli: 不明なコマンドです: bogus
$help" bogus
check 2 "" "keyloft-cli: 不明なオプションです: --bogus
詳しくは「keyloft-cli list --help」を参照してください。" list --bogus
check 2 "" "keyloft-cli: 引数の数が違います。使い方: keyloft-cli get APP SECTION KEY
詳しくは「keyloft-cli get --help」を参照してください。" get a b
check 2 "" "keyloft-cli: コマンドがありません。
$help"
# A section is a path, as SaveSetting takes it.
check 0 "" "" set A 'Engines\Jet' SystemDB 'C:\db'
check 0 "Engines
Engines\\Jet" "" list A
check 0 'C:\db' "" get a 'ENGINES\jet' systemdb
check 3 "" "keyloft-cli: エラー 1002: セクション名に空の階層があります（「\\」の前後には名前が要ります）。" set A 'x\\y' k v

# Export and import back; a file that reaches outside the settings changes nothing.
check 0 "" "" export -o "$dir/all.reg"
check 0 "" "" delete "My App" Main Lines Name
check 0 "added${tab}My App\\Main\\Lines
added${tab}My App\\Main\\Name" "" import --dry-run "$dir/all.reg"
check 0 "added${tab}My App\\Main\\Lines
added${tab}My App\\Main\\Name" "" import "$dir/all.reg"
check 0 "" "" import "$dir/all.reg"
check 0 "" "" delete A Engines
check 0 "" "" list A
check 0 "added${tab}A\\Engines\\Jet\\SystemDB" "" import "$dir/all.reg"
cp "$dir/p/user.reg" "$dir/before"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\My App\\Main]\n"Name"="x"\n[HKEY_CURRENT_USER\\Software\\Wine]\n"k"="v"\n' >"$dir/bad.reg"
check 2 "" "$dir/bad.reg:5: HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings の外のキーです。
keyloft-cli: 取り込みを拒否しました。何も書き込んでいません。" import "$dir/bad.reg"
head -n 4 "$dir/bad.reg" >"$dir/change.reg"
check 0 "changed${tab}My App\\Main\\Name" "" import -n "$dir/change.reg"
cmp -s "$dir/before" "$dir/p/user.reg" || { echo "user.reg changed"; failed=1; }

# A name that holds a number, which the list does not show, is replaced neither by set nor by an
# import.
printf '\n[Software\\\\VB and VBA Program Settings\\\\Num\\\\Sec] 0\n"Count"=dword:00000005\n' \
    >>"$dir/p/user.reg"
cp "$dir/p/user.reg" "$dir/before"
refusal="keyloft-cli: キー名称「count」には文字列以外の値（REG_DWORD）が登録されています。上書きすると元の値が失われるため、登録できません（Num\\Sec\\count）。"
check 3 "" "$refusal" set Num Sec count 6
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Num\\Sec]\n"count"="6"\n' >"$dir/num.reg"
check 3 "" "$refusal
keyloft-cli: 取り込みを拒否しました。何も書き込んでいません。" import "$dir/num.reg"
cmp -s "$dir/before" "$dir/p/user.reg" || { echo "user.reg changed by a refusal"; failed=1; }

# Hostile input: an unreadable file, a name set or import would pass but the store or the round
# trip would not, a write over the registry itself; each refused, user.reg as it was.
reg5='Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Num\\Sec]\n'
long=$(printf '%0256d' 0)
printf "$reg5"'"a\\0b"="v"\n' >"$dir/nul.reg"
printf "$reg5"'"%016384d"="v"\n' 0 >"$dir/longkey.reg"
printf "$reg5"'"count"=-\n' >"$dir/dword.reg"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\%s\\Sec]\n"k"="v"\n' \
    "$long" >"$dir/longapp.reg"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Num\\S\000c]\n"k"="v"\n' \
    >"$dir/nulsec.reg"
: >"$dir/empty.reg"
ln -s "$dir/p/user.reg" "$dir/link.reg"
cp "$dir/p/user.reg" "$dir/before"
refused="keyloft-cli: 取り込みを拒否しました。何も書き込んでいません。"
notReg="regedit の .reg ファイルではありません（1 行目が「Windows Registry Editor Version 5.00」でも「REGEDIT4」でもありません）。"
own="は Wine のプレフィックスのレジストリファイル（user.reg）です。書き出し先にはできません。
詳しくは「keyloft-cli export --help」を参照してください。"
for dry in -n ""; do
    check 3 "" "$dir/nul.reg:4: エラー 1004: キー名称に NUL 文字は使えません。
$refused" import $dry "$dir/nul.reg"
    check 3 "" "$dir/nulsec.reg:4: エラー 1004: セクション名に NUL 文字は使えません。
$refused" import $dry "$dir/nulsec.reg"
    check 3 "" "$dir/longapp.reg:4: エラー 1003: アプリケーション名が長すぎます（255 文字まで）。
$refused" import $dry "$dir/longapp.reg"
    check 3 "" "$dir/longkey.reg:4: エラー 1003: キー名称が長すぎます（16383 文字まで）。
$refused" import $dry "$dir/longkey.reg"
    check 3 "" "keyloft-cli: キー名称「count」には文字列以外の値（REG_DWORD）が登録されています。取り込みは文字列の設定だけを削除するため、削除しません（Num\\Sec\\count）。
$refused" import $dry "$dir/dword.reg"
done
check 2 "" "$dir/empty.reg:1: $notReg
$refused" import "$dir/empty.reg"
check 2 "" "keyloft-cli: 「$dir」を読めません: Is a directory
詳しくは「keyloft-cli import --help」を参照してください。" import "$dir"
check 2 "" "keyloft-cli: アプリケーション名に改行は使えません。
詳しくは「keyloft-cli set --help」を参照してください。" set "$(printf 'a\nb')" Sec k v
check 2 "" "keyloft-cli: セクション名に改行は使えません。
詳しくは「keyloft-cli set --help」を参照してください。" set App "$(printf 's\rt')" k v
check 2 "" "keyloft-cli: 引数 7 に UTF-8 として正しくないバイトがあります。" set App Sec k "$(printf 'v\377')"
check 2 "" "keyloft-cli: 「$dir/link.reg」$own" export -o "$dir/link.reg"
check 2 "" "keyloft-cli: 「$dir/p/../p/user.reg」$own" export -o "$dir/p/../p/user.reg"
cmp -s "$dir/before" "$dir/p/user.reg" || { echo "user.reg changed by hostile input"; failed=1; }

# With -0 the change and its record are two fields.
printf "$reg5"'"fresh"="v"\n' >"$dir/fresh.reg"
WINEPREFIX="$dir/none" "$cli" --prefix "$dir/p" -0 import -n "$dir/fresh.reg" | tr '\0' '|' >"$dir/out"
[ "$(cat "$dir/out")" = "added|Num\\Sec\\fresh|" ] || { echo "-0 import: $(cat "$dir/out")"; failed=1; }

# What set and import take comes back through export and import: names of every odd kind.
for name in ' lead' 'trail ' 'semi;colon' 'br]acket' '-dash' '日本語' "$(printf 'tab\there')"; do
    check 0 "" "" set "Trip$name" "Sec$name" "key$name" "value$name"
done
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\TripImport\\Sec]\n"line\\nbreak"="a"\n"quote\\"s"="b"\n' \
    >"$dir/odd.reg"
check 0 "added${tab}TripImport\\Sec\\line
break
added${tab}TripImport\\Sec\\quote\"s" "" import "$dir/odd.reg"
check 0 "" "" delete Num # a number, which no .reg of settings carries
WINEPREFIX="$dir/none" "$cli" --prefix "$dir/p" export >"$dir/all.reg"
printf 'WINE REGISTRY Version 2\n' >"$dir/p/user.reg"
WINEPREFIX="$dir/none" "$cli" --prefix "$dir/p" import "$dir/all.reg" >/dev/null ||
    { echo "the export did not import"; failed=1; }
WINEPREFIX="$dir/none" "$cli" --prefix "$dir/p" export >"$dir/all.again"
cmp -s "$dir/all.reg" "$dir/all.again" || { echo "the round trip changed the export"; failed=1; }

exit $failed

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

exit $failed

#!/bin/bash
# keyloft-cli.exe as a Windows user runs it, typed at cmd.exe's prompt in a console that Wine draws
# on a real terminal (tmux): its output goes through the console, not a pipe; its exit status is
# what `echo %ERRORLEVEL%` shows; and a value typed on the console reaches `set`, line ends and all.
# Usage: cli_terminal.sh WINE PROGRAM     (in the prefix WINEPREFIX)
set -u
wine=$1 cli=$2
work=$(mktemp -d)
socket=$work/tmux
trap 'tmux -S "$socket" kill-server 2>/dev/null; rm -rf "$work"' EXIT
# Wine leaves Ctrl+Z to the terminal, which would take it for "suspend"; on Windows it ends what
# is typed on the console.
cat >"$work/session" <<EOS
stty susp undef
cd "$(dirname "$cli")"
exec "$wine" cmd
EOS
tmux -S "$socket" new-session -d -x 200 -y 50 -e LANG=C.UTF-8 -e "WINEPREFIX=$WINEPREFIX" \
    -e WINEDEBUG=-all "bash $work/session"
# The console from the first short prompt on, without cmd's blank lines.
screen() { tmux -S "$socket" capture-pane -p -J -S - | sed -n '/^>/,$p' | grep -v '^$'; }
type_line() {
    tmux -S "$socket" send-keys -l "$1"
    tmux -S "$socket" send-keys Enter
}
# Each command typed once the prompt before it shows.
shown=0
wait_prompt() {
    for _ in $(seq 150); do
        if [ "$(screen | grep -c '^>')" -gt "$shown" ]; then
            shown=$((shown + 1))
            return
        fi
        sleep 0.2
    done
    echo "cli_terminal: no prompt after line $shown; the console:"
    tmux -S "$socket" capture-pane -p -J -S -
    exit 1
}
for _ in $(seq 150); do
    tmux -S "$socket" capture-pane -p | grep -q '>$' && break
    sleep 0.2
done
type_line 'prompt $G'
wait_prompt
for line in 'keyloft-cli set 日本語のアプリ 設定 鍵 "値 ｶﾅ"' 'echo %ERRORLEVEL%' \
    'keyloft-cli get 日本語のアプリ 設定 鍵' 'keyloft-cli list 日本語のアプリ' \
    'keyloft-cli get 日本語のアプリ 設定 無い' 'echo %ERRORLEVEL%' \
    'keyloft-cli --bogus' 'echo %ERRORLEVEL%' 'keyloft-cli set A x\\y k v' 'echo %ERRORLEVEL%' \
    'keyloft-cli set 日本語のアプリ 設定 入力' '一行目 ｶﾅ' 'two' $'\x1a' \
    'echo %ERRORLEVEL%' 'keyloft-cli get --json 日本語のアプリ 設定 入力' \
    'keyloft-cli delete 日本語のアプリ' 'echo %ERRORLEVEL%'; do
    if [ "$line" = $'\x1a' ]; then
        tmux -S "$socket" send-keys C-z Enter
    else
        type_line "$line"
    fi
    # The lines typed for `set` are its input: no prompt comes between them.
    case $line in *入力 | 一行目* | two) sleep 0.5 ;; *) wait_prompt ;; esac
done
expected='>keyloft-cli set 日本語のアプリ 設定 鍵 "値 ｶﾅ"
>echo %ERRORLEVEL%
0
>keyloft-cli get 日本語のアプリ 設定 鍵
値 ｶﾅ
>keyloft-cli list 日本語のアプリ
設定
>keyloft-cli get 日本語のアプリ 設定 無い
keyloft-cli: 設定「日本語のアプリ\設定\無い」はありません。
>echo %ERRORLEVEL%
1
>keyloft-cli --bogus
keyloft-cli: 不明なオプションです: --bogus
詳しくは「keyloft-cli --help」を参照してください。
>echo %ERRORLEVEL%
2
>keyloft-cli set A x\\y k v
keyloft-cli: エラー 1002: セクション名に空の階層があります（「\」の前後には名前が要ります）。
>echo %ERRORLEVEL%
3
>keyloft-cli set 日本語のアプリ 設定 入力
一行目 ｶﾅ
two
^Z
>echo %ERRORLEVEL%
0
>keyloft-cli get --json 日本語のアプリ 設定 入力
"一行目 ｶﾅ\ntwo\n"
>keyloft-cli delete 日本語のアプリ
>echo %ERRORLEVEL%
0
>'
if [ "$(screen)" != "$expected" ]; then
    echo "cli_terminal: the console shows:"
    screen
    diff <(echo "$expected") <(screen)
    exit 1
fi

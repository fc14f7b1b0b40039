#!/bin/sh
# Walks the import table of every program and DLL in a Windows folder (objdump -p) and fails on
# any DLL imported that is neither in the folder nor one that every Windows has: a missing DLL
# fails here, not at a user's first start. The list is what Keyloft and Qt's Core, Gui, Widgets
# and windows plugins import; a new one must be checked (that Windows ships it) before it is
# added. The api-ms-win-* names are Windows' API sets, resolved by the loader itself.
# Usage: imports.sh FOLDER [OBJDUMP]
set -u
folder=$1 objdump=${2:-x86_64-w64-mingw32-objdump}
system="advapi32 authz comdlg32 d3d9 d3d11 d3d12 dwmapi dwrite dxgi gdi32 imm32 kernel32
    msvcrt netapi32 ole32 oleaut32 setupapi shell32 shlwapi user32 userenv uxtheme version
    winmm ws2_32 wtsapi32 mpr shcore"
status=0 files=0
for file in $(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \)); do
    files=$((files + 1))
    for dll in $("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'); do
        name=$(echo "$dll" | tr 'A-Z' 'a-z')
        case $name in api-ms-win-*) continue ;; esac
        if echo " $system " | tr '\n' ' ' | grep -q " ${name%.dll} "; then continue; fi
        # The loader looks in the program's folder, also for the plugins' DLLs.
        if [ -n "$(find "$folder" -maxdepth 1 -iname "$dll" | head -n 1)" ]; then
            continue
        fi
        echo "$file imports $dll, which is neither in $folder nor a Windows system DLL"
        status=1
    done
done
[ "$files" -gt 0 ] || { echo "no program or DLL in $folder"; exit 1; }
[ "$status" -eq 0 ] && echo "imports of $files files: all in the folder or Windows' own"
exit $status

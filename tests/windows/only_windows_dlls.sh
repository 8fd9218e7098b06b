#!/usr/bin/env bash
# Fails when the Windows program needs a DLL that Windows itself does not
# bring: the C++, GCC or thread runtime means the static link did not happen.
#   only_windows_dlls.sh OBJDUMP PROGRAM.exe
set -euo pipefail
dlls=$("$1" -p "$2" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "$2 needs:" $dlls
[[ -n $dlls ]] || { echo "no DLL listed: not a Windows program?"; exit 1; }
foreign=$(grep -vxE 'kernel32\.dll|msvcrt\.dll|ole32\.dll|shell32\.dll|bcrypt\.dll|advapi32\.dll' <<<"$dlls" || true)
[[ -z $foreign ]] || { echo "not Windows' own:" $foreign; exit 1; }

#!/usr/bin/env bash
# Fails when the Windows program needs a DLL that Windows itself does not
# bring: the C++, GCC or thread runtime means the static link did not happen.
#   only_windows_dlls.sh OBJDUMP PROGRAM.exe [MOST-BYTES]
set -euo pipefail
dlls=$("$1" -p "$2" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "$2 needs:" $dlls
[[ -n $dlls ]] || { echo "no DLL listed: not a Windows program?"; exit 1; }
# The window program adds the window system's own: controls, dialogs, input
# method, drawing.
foreign=$(grep -vxE 'kernel32\.dll|msvcrt\.dll|ole32\.dll|shell32\.dll|bcrypt\.dll|advapi32\.dll|user32\.dll|gdi32\.dll|comctl32\.dll|comdlg32\.dll|imm32\.dll' <<<"$dlls" || true)
[[ -z $foreign ]] || { echo "not Windows' own:" $foreign; exit 1; }
# One file a user copies: no larger than it must be.
if [[ -n ${3:-} ]]; then
  size=$(stat -c %s "$2")
  echo "$2: $size bytes (at most $3)"
  (( size <= $3 )) || { echo "too large"; exit 1; }
fi

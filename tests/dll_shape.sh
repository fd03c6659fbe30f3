#!/usr/bin/env bash
# The DLL as a viewer sees it: KERNEL32.DLL its only import, and exactly the
# ten plain export names at ordinals 1 to 10, and no section that would hold
# mutable state, thread-local data or start-up code (.data, .bss, .tls, .CRT).
set -euo pipefail
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll")
fail=0

imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
if [ "$imports" != "KERNEL32.DLL " ]; then
  echo "imports: have [$imports], want [KERNEL32.DLL]"
  fail=1
fi

# The name table lists "[index] Name", index counted from the ordinal base.
base=$(printf '%s\n' "$dump" | awk '/^Ordinal Base/{print $3; exit}')
have=$(printf '%s\n' "$dump" |
  awk -v base="$base" '/\[Ordinal\/Name Pointer\] Table/{t=1; next}
       t && match($0, /\[ *[0-9]+\] [^ ]+$/) {
         s = substr($0, RSTART + 1); split(s, f, "]"); gsub(/ /, "", f[1]); name = f[2]; gsub(/ /, "", name);
         print f[1] + base, name; next }
       t {t=0}' | sort -n | tr '\n' ';')
want="1 GetPluginInfo;2 IsSupported;3 GetPictureInfo;4 GetPicture;5 GetPreview;"
want+="6 GetPluginInfoW;7 IsSupportedW;8 GetPictureInfoW;9 GetPictureW;10 GetPreviewW;"
if [ "$have" != "$want" ]; then
  echo "exports: have [$have]"
  echo "         want [$want]"
  fail=1
fi
sections=$("$objdump" -h "$dll" | awk '$1 ~ /^[0-9]+$/ {print $2}' | grep -E '^\.(data|bss|tls|CRT)' | tr '\n' ' ' || true)
if [ -n "$sections" ]; then
  echo "sections that run or keep state: $sections"
  fail=1
fi
if [ $fail -eq 0 ]; then echo "dll shape: 1 passed, 0 failed"; else echo "dll shape: 0 passed, 1 failed"; fi
exit $fail

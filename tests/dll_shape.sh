#!/usr/bin/env bash
# The DLL as a viewer sees it: a DLL for the processor named (its machine
# number: 0x14C x86, 0x8664 x86-64, 0xAA64 ARM64), KERNEL32.DLL its only
# import, exactly the ten plain export names at ordinals 1 to 10, no section
# that would hold mutable state, thread-local data or start-up code (.data,
# .bss, .tls, .CRT), and no timestamp in its header, so that the same sources
# give the same bytes. llvm-readobj reads all three processors' files alike.
#   dll_shape.sh DLL MACHINE
set -euo pipefail
dll=$1 machine=$2
readobj=${READOBJ:-llvm-readobj}
dump=$("$readobj" --file-headers --coff-imports --coff-exports --sections "$dll")
fail=0
check() {  # what have want
  if [ "$2" != "$3" ]; then
    printf '%s: have [%s]\n%*s want [%s]\n' "$1" "$2" ${#1} '' "$3"
    fail=1
  fi
}

check machine "$(printf '%s\n' "$dump" | sed -n 's/^ *Machine: .*(\(0x[0-9A-Fa-f]*\))$/\1/p')" "$machine"
check timestamp "$(printf '%s\n' "$dump" | sed -n 's/^ *TimeDateStamp: .*(\(0x[0-9A-Fa-f]*\))$/\1/p')" 0x0
check DLL "$(printf '%s\n' "$dump" | grep -c 'IMAGE_FILE_DLL (')" 1
imports=$(printf '%s\n' "$dump" | awk '/^Import \{/{t=1; next} t && /^ *Name: /{print toupper($2); t=0}' | sort -u | tr '\n' ' ')
check imports "$imports" "KERNEL32.DLL "
# lld numbers its table from 0 and leaves slot 0 empty (no name, no address):
# an unused ordinal, which no loader resolves, so only named slots count.
exports=$(printf '%s\n' "$dump" | awk '/^Export \{/{t=1; next} t && /^ *Ordinal: /{o=$2} t && /^ *Name: /{if ($2 != "") print o, $2; t=0}' |
  sort -n | tr '\n' ';')
want="1 GetPluginInfo;2 IsSupported;3 GetPictureInfo;4 GetPicture;5 GetPreview;"
want+="6 GetPluginInfoW;7 IsSupportedW;8 GetPictureInfoW;9 GetPictureW;10 GetPreviewW;"
check exports "$exports" "$want"
sections=$(printf '%s\n' "$dump" | sed -n 's/^ *Name: \(\.[A-Za-z0-9_$]*\).*/\1/p' | grep -E '^\.(data|bss|tls|CRT)' | tr '\n' ' ' || true)
check "sections that run or keep state" "$sections" ""
if [ $fail -eq 0 ]; then echo "dll shape: 1 passed, 0 failed"; else echo "dll shape: 0 passed, 1 failed"; fi
exit $fail

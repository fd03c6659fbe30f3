#!/usr/bin/env bash
# A DLL of ours as a viewer and a binary analyser see it, read with
# llvm-readobj (all three processors' files alike):
# - a DLL for the processor named (its machine number: 0x14C x86, 0x8664
#   x86-64, 0xAA64 ARM64), with no timestamp in its header, so that the same
#   sources give the same bytes;
# - exactly the exports of EXPORTS_DEF, at its ordinals where it gives them;
# - exactly the DLLs of the IMPORTS_DEF files (their LIBRARY lines), and of
#   each exactly the calls listed before its first comment line (the rest are
#   others'), or with IMPORTS_DEF#HEADING those of the section below the
#   comment line that starts with HEADING; a call marked "; x86 only" is not
#   asked of ARM64;
# - loaded at a random base (DYNAMIC_BASE; HIGH_ENTROPY_VA at 64 bits) into
#   memory that does not run as code (NX_COMPAT); at 32 bits NO_SEH, as it
#   registers no handler, no DWARF unwind tables, which 32-bit Windows never
#   reads, and every unit built for a caller's stack aligned to 4 bytes;
# - no section both writable and executable, no thread-local data, and no
#   section that would hold mutable state or start-up code (.data, .bss,
#   .tls, .CRT); a COM server (--com-server) keeps its count of objects and
#   its class factory in .data and .bss.
#   dll_shape.sh [--com-server] DLL MACHINE EXPORTS_DEF IMPORTS_DEF[#HEADING]...
set -euo pipefail
state_sections='data|bss|tls|CRT'
[ "$1" != --com-server ] || { state_sections='tls|CRT'; shift; }
dll=$1 machine=$2 exports_def=$3
shift 3
readobj=${READOBJ:-llvm-readobj}
dump=$("$readobj" --file-headers --coff-imports --coff-exports --sections "$dll")
fail=0
check() {  # what have want
  if [ "$2" != "$3" ]; then
    printf '%s: have [%s]\n%*s want [%s]\n' "$1" "$2" ${#1} '' "$3"
    fail=1
  fi
}
field() { printf '%s\n' "$dump" | sed -n "s/^ *$1: .*(\(0x[0-9A-Fa-f]*\))\$/\1/p"; }
# A .def file's LIBRARY name, and its EXPORTS entries up to its first comment
# line (or those below "; HEADING" of FILE#HEADING) as "name @ordinal" (or the
# name alone), less those the sed script drops.
library() { sed -n 's/^LIBRARY *//p' "${1%%#*}" | tr a-z A-Z; }
entries() {
  local start='^EXPORTS'
  [[ "$1" != *#* ]] || start="^; ${1#*#}"
  sed -n "/$start/,/^;/{/^  /p}" "${1%%#*}" | sed "$2" |
    awk '{o = ""; for (i = 2; i <= NF; ++i) if ($i ~ /^@[0-9]+$/) o = " " $i; print $1 o}'
}

check machine "$(field Machine)" "$machine"
check timestamp "$(field TimeDateStamp)" 0x0
check DLL "$(printf '%s\n' "$dump" | grep -c 'IMAGE_FILE_DLL (')" 1
libraries=$(printf '%s\n' "$dump" | awk '/^Import \{/{t=1; next} t && /^ *Name: /{print toupper($2); t=0}' | sort -u | tr '\n' ' ')
imports=$(printf '%s\n' "$dump" | awk '/Import \{/{t=1; next} t && /^ *Name: /{lib=toupper($2); t=0} /^ *Symbol: /{print lib, $2}' | sort | tr '\n' ';')
arm64_drops=$([ "$machine" = 0xAA64 ] && echo '/; x86 only/d' || true)
want=$(for def in "$@"; do entries "$def" "$arm64_drops" | sed "s/^/$(library "$def") /"; done | sort | tr '\n' ';')
check "imported DLLs" "$libraries" "$(for def in "$@"; do library "$def"; done | sort -u | tr '\n' ' ')"
check "imported calls" "$imports" "$want"
# lld numbers its table from 0 and leaves slot 0 empty (no name, no address):
# an unused ordinal, which no loader resolves, so only named slots count.
exports=$(printf '%s\n' "$dump" | awk '/^Export \{/{t=1; next} t && /^ *Ordinal: /{o=$2} t && /^ *Name: /{if ($2 != "") print $2, "@" o; t=0}' | sort)
want=$(entries "$exports_def" "")
grep -q ' @' <<<"$want" || exports=$(cut -d' ' -f1 <<<"$exports")
check exports "$(tr '\n' ';' <<<"$exports")" "$(sort <<<"$want" | tr '\n' ';')"

flags=$(printf '%s\n' "$dump" | sed -n 's/^ *IMAGE_DLL_CHARACTERISTICS_\([A-Z_]*\) .*/\1/p' | sort | tr '\n' ' ')
if [ "$machine" = 0x14C ]; then want="DYNAMIC_BASE NO_SEH NX_COMPAT "; else want="DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT "; fi
check "DLL characteristics" "$flags" "$want"
check "TLS directory" "$(printf '%s\n' "$dump" | sed -n 's/^ *TLSTableSize: //p')" 0x0
# Each section as name and flags; long names (/4, /19) are read from the
# bytes that llvm-readobj shows beside them.
sections=$(printf '%s\n' "$dump" | awk '
  /^ *Section \{/ {name = ""; w = 0; x = 0}
  /^ *Name: / {name = $2}
  /IMAGE_SCN_MEM_WRITE/ {w = 1}
  /IMAGE_SCN_MEM_EXECUTE/ {x = 1}
  /^ *\}/ && name != "" {print name, w, x; name = ""}')
check "writable and executable sections" "$(printf '%s\n' "$sections" | awk '$2 && $3 {print $1}' | tr '\n' ' ')" ""
check "sections that run or keep state" \
  "$(printf '%s\n' "$sections" | awk -v s="^[.]($state_sections)" '$1 ~ s {print $1}' | tr '\n' ' ')" ""
if [ "$machine" = 0x14C ]; then
  check "unwind tables" "$(printf '%s\n' "$dump" | grep -c '\.eh_frame' || true)" 0
  # The i686 floor: MMX, SSE and wider registers only in the paths that
  # CPUID picks (their names from the symbols kept beside the DLL, read by GNU
  # nm: llvm-nm leaves out a local symbol at the start of a section).
  outside=$(llvm-objdump -d --no-show-raw-insn "$dll" | /usr/bin/python3 -c '
import re, subprocess, sys
names = subprocess.run(["i686-w64-mingw32-nm", "-n", "--defined-only", sys.argv[1]], capture_output=True,
                       text=True, check=True).stdout.split("\n")
starts = sorted((int(f[0], 16), f[2]) for f in (l.split() for l in names)
                if len(f) == 3 and f[1] in "tT")
for line in sys.stdin:
    m = re.match(r"\s*([0-9a-f]+):\s+(.*)", line)
    if not m or not re.search(r"%[xyz]?mm[0-9]", m.group(2)): continue
    at = int(m.group(1), 16)
    name = max((s for s in starts if s[0] <= at), default=(0, "?"))[1]
    if not re.search(r"Sse2|Avx2|Avx512", name): print(name)
' "$dll.debug" | sort -u | tr '\n' ' ')
  check "vector registers outside the CPUID-picked paths" "$outside" ""
  # A 32-bit host may call with the stack aligned to 4 bytes only: every unit
  # is built not to trust more (GCC records its switches in the debug file).
  check "units that trust the caller's stack alignment" "$(llvm-dwarfdump --debug-info "$dll.debug" |
    sed -n 's/^ *DW_AT_producer//p' | grep -vc -e '-mincoming-stack-boundary=2' -e '-mstackrealign' || true)" 0
fi
if [ $fail -eq 0 ]; then echo "dll shape: 1 passed, 0 failed"; else echo "dll shape: 0 passed, 1 failed"; fi
exit $fail

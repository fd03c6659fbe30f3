#!/usr/bin/env bash
# One platform's Windows Installer package under Wine's msiexec, in a fresh
# copy of the machine's prefix of that kind (nothing of ours ever installed
# there): the software keys exported, the package installed, the codec found
# by WIC alone (the WIC test's converter, with no codec beside it, gives the
# PNG that the codec registered by regsvr32 gave) and the property handler
# by the shell's key (the WIC test's host gives the sample's size), each
# component's rows read back in its own registry view and no row in two
# components, a package of the next version installed over it (one product
# left, working), that one removed, and the exports and the files then as
# they were; where another program owns .wpp's values before, they are its
# own through install, repair, upgrade and removal; and a package whose
# install fails at its very end leaves them so too.
#   tests/msi_test.sh ARCH PACKAGES STAGE VERSION PNG   (as tests/package_test.sh calls it)
#     x64    in the 64-bit prefix, its x86 codec used by a 32-bit program
#            there (WPP_SKIP_WOW64=1 leaves that out, where the prefix has no
#            32-bit side)
#     x86    in the 32-bit prefix
#     arm64  in the ARM64 prefix, where the x64 package must refuse
# Every check runs, and says how it went; the status is 1 if one failed.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/machine  # wine_arm64
arch=$1 packages=$2 stage=$3 version=$4 want_png=$5
# Each msiexec, regedit and WIC program, natively; wine-run allows five times
# that under an emulator.
export WPP_WINE_TIMEOUT=${WPP_WINE_TIMEOUT:-240}
case $arch in
  x64) kind=64 var=WPP_WINEPREFIX64 server=/usr/lib/wine/wineserver64 host=win64
    codecs=("CodecX64:64:Program Files/wpp:x64" "CodecX86:32:Program Files (x86)/wpp:x86") ;;
  x86) kind=32 var=WPP_WINEPREFIX32 server=/usr/lib/wine/wineserver32 host=win32
    codecs=("CodecX86:32:Program Files/wpp:x86") ;;
  arm64) kind=arm64 var=WPP_WINEPREFIXARM64 server=$wine_arm64/usr/lib/wine/wineserver64 host=winarm64
    codecs=("CodecArm64:64:Program Files/wpp:arm64" "CodecX86:32:Program Files (x86)/wpp:x86") ;;
  *) echo "msi: no package for $arch" >&2; exit 2 ;;
esac
scratch=$(mktemp -d)
prefix=$scratch/prefix
bash scripts/wine-run --prepare $kind && cp -a "$(bash scripts/wine-run --prefix $kind)" "$prefix" || exit 1
export "$var=$prefix"
trap 'WINEPREFIX=$prefix "$server" -k 2>/dev/null; rm -rf "$scratch"' EXIT
windows=$prefix/drive_c/windows
fail=0
say() {  # status, then what was checked
  local status=$1
  shift
  if [ "$status" = 0 ]; then echo "msi ($arch): $*"; else echo "msi ($arch): FAILED: $*"; fail=1; fi
}

next=${version%.*}.$((${version##*.} + 1))
cp "$packages/wpp-$version-$arch.msi" "$prefix/drive_c/this.msi" &&
  bash scripts/package --msi "$stage" "$prefix/drive_c/next.msi" $arch "$next" &&
  bash scripts/package --msi "$stage" "$prefix/drive_c/failing.msi" $arch "$version" --failing || exit 1

# The ARM64 Wine's msiexec (Wine 8.0) resolves ProgramFilesFolder and
# ProgramFiles64Folder to C:\, where both codecs would land in one file: there
# the folders are given, to every install and removal, as Windows Installer
# resolves them on Windows.
folders=()
[ $arch != arm64 ] || folders=('INSTALLDIR=C:\Program Files\wpp\' 'INSTALLDIR32=C:\Program Files (x86)\wpp\')
wine() { bash scripts/wine-run "$@"; }
msiexec() {  # ARGS...: the status and the installer's log in $scratch/log
  local status=0 given=()
  given=("${folders[@]}")
  wine "$windows/system32/msiexec.exe" "$@" "${given[@]}" /qn /l*v 'C:\msi.log' || status=$?
  cp "$prefix/drive_c/msi.log" "$scratch/log" 2>/dev/null || : >"$scratch/log"
  return $status
}
snapshot() {  # NAME: the software keys, machine's and user's, and the files
  wine "$windows/regedit.exe" /E 'C:\machine.reg' 'HKEY_LOCAL_MACHINE\Software'
  wine "$windows/regedit.exe" /E 'C:\user.reg' 'HKEY_CURRENT_USER\Software'
  mv "$prefix/drive_c/machine.reg" "$scratch/$1-machine.reg"
  mv "$prefix/drive_c/user.reg" "$scratch/$1-user.reg"
  # Windows Installer's own cache folder stays, as on Windows.
  local kind
  for kind in f d; do
    (cd "$prefix/drive_c" && find . -path ./users -prune -o -type $kind -print |
      grep -vE '^\./(msi\.log|[a-z0-9]+\.msi|windows/Installer)$' | sort) >"$scratch/$1-$kind"
  done
}
# An export as text, less the keys Wine's own session writes when it likes
# (its cache of the desktop's colours and metrics), which are no one's install.
text() {
  case $1 in
    *.reg) iconv -f utf-16le -t utf-8 "$1" | tr -d '\r' |
      awk 'index($0, "[HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters") == 1 {
             skip = 1; next }
           skip && /^$/ { skip = 0; next } !skip' ;;
    *) cat "$1" ;;
  esac
}
# Keys that a fresh prefix has, empty, and under which the packages write.
# Wine's msiexec, having removed a value, removes every key up the tree that
# this leaves empty, even one that was there before; Windows Installer
# removes the values that the package's rows name, and these keys are never
# empty on Windows (Windows' own kinds, Windows' own 32-bit classes).
emptied='HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID
HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\KindMap
HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes\CLSID
HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Explorer\KindMap'
# Wine's rollback leaves the installer's own records of the components, as
# empty keys, and the folder it made, empty: those, named, and nothing else,
# are let pass there; the rest of that export is compared as text.
left_records() {  # NAME: its machine export as text without them; says how many
  RECORDS='[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components\' \
    awk 'index($0, ENVIRON["RECORDS"]) == 1 && length($0) == length(ENVIRON["RECORDS"]) + 33 {
           dropped++; skip = 1; next }
         skip && /^$/ { skip = 0; next } { skip = 0; print }
         END { print dropped + 0 > "/dev/stderr" }' <(text "$scratch/$1-machine.reg") 2>"$scratch/dropped"
}
base=before
as_before() {  # NAME [--wine-rollback]: the snapshot of that name is the one called $base
  snapshot "$1"
  local part status=0 key
  text "$scratch/$1-machine.reg" >"$scratch/this-text"
  if [ "${2:-}" = --wine-rollback ]; then
    left_records "$1" >"$scratch/this-text"
    echo "  Wine's rollback left $(cat "$scratch/dropped") empty keys of its own component records," \
      "and these empty folders:" $(comm -13 "$scratch/$base-d" "$scratch/$1-d" | tr ' ' '_') "(none else)"
    comm -23 "$scratch/$base-d" "$scratch/$1-d" | grep -q . || cp "$scratch/$base-d" "$scratch/$1-d"
  fi
  # The keys of $emptied that were there, empty, and are gone, named; the
  # rest is compared as it stands.
  text "$scratch/$base-machine.reg" >"$scratch/base-text"
  while read -r key; do
    if grep -qxF "[$key]" "$scratch/base-text" && ! grep -qxF "[$key]" "$scratch/this-text" &&
      awk -v k="[$key]" 'found { exit $0 != "" } $0 == k { found = 1 }' "$scratch/base-text"; then
      echo "  Wine's msiexec removed $key, there and empty before (Windows Installer removes only the package's rows)"
      awk -v k="[$key]" '$0 == k { skip = 1; next } skip && /^$/ { skip = 0; next } !skip' \
        "$scratch/base-text" >"$scratch/base-less" && mv "$scratch/base-less" "$scratch/base-text"
    fi
  done <<<"$emptied"
  cmp -s "$scratch/base-text" "$scratch/this-text" || {
    status=1
    echo "  machine.reg differs:"
    diff "$scratch/base-text" "$scratch/this-text" | head -n 40
  }
  for part in user.reg f d; do
    cmp -s <(text "$scratch/$base-$part") <(text "$scratch/$1-$part") || {
      status=1
      echo "  $part differs:"
      diff <(text "$scratch/$base-$part") <(text "$scratch/$1-$part") | head -n 40
    }
  done
  return $status
}
# The sample through WIC, by the test's converter from a folder with no
# codec, and its size from the property handler that the shell's key names.
sample=samples/colour-bars.wpp
size=$(od -An -tu2 -j20 -N4 "$sample" | awk '{print "HorizontalSize " $1 ", VerticalSize " $2}')
decodes() {  # [PRESET]: by that build's WIC test, the package's own width by default
  rm -rf "$scratch/host" && mkdir -p "$scratch/host/png"
  cp "build/${1:-$host}/wic_test.exe" "$scratch/host/"
  wine "$scratch/host/wic_test.exe" --installed --png "$scratch/host/png" "$sample" >/dev/null &&
    cmp -s "$scratch/host/png/colour-bars.png" "$want_png" &&
    wine "$scratch/host/wic_test.exe" --installed --details "$sample" | grep -q "$size, BitDepth 16"
}
# The rows of a component (and of the components beside it that each hold
# one value another program may own), as the package holds them, read back
# in its own view.
in_its_view() {  # component view folder
  local view=(/reg:$2)
  [ $kind != 32 ] || view=()
  wine "$windows/system32/reg.exe" query 'HKLM\Software' /s "${view[@]}" \
    >"$scratch/view" 2>/dev/null || true
  msiinfo export "$prefix/drive_c/this.msi" Registry >"$scratch/rows"
  python3 - "$scratch/rows" "$scratch/view" "$1" "$3" <<'PY'
import sys
rows, view, component, folder = sys.argv[1:]
have, key = set(), None
for line in open(view, encoding="utf-8", errors="replace"):
    line = line.rstrip("\r\n")
    if line.startswith("HKEY_LOCAL_MACHINE\\"):
        key = line[len("HKEY_LOCAL_MACHINE\\"):]
        have.add((key.lower(), None, None))
    elif line.startswith("    ") and key:
        name, kind, data = (line.strip().split("    ", 2) + ["", ""])[:3]
        have.add((key.lower(), "" if name == "(Default)" else name, data.strip()))
missing, count = [], 0
for row in open(rows).read().splitlines()[3:]:
    _, _, key, name, value, owner = row.split("\t")
    if owner.split(".")[0] != component:
        continue
    count += 1
    if name == "*":
        want = (key.lower(), None, None)
    elif value.startswith("#x"):
        want = (key.lower(), name, value[2:])
    elif value.startswith("#"):
        want = (key.lower(), name, "0x%x" % int(value[1:]))
    else:
        want = (key.lower(), name, value.replace("[#%s]" % owner, folder + "\\wppwic.dll"))
    if want not in have:
        missing.append(want)
for m in missing[:5]:
    print("  not in the view:", m)
sys.exit(1 if missing or not count else 0)
PY
}
# No registry value in two components: each row's view, key and name once.
one_component_each() {
  python3 - <(msiinfo export "$prefix/drive_c/this.msi" Registry) \
    <(msiinfo export "$prefix/drive_c/this.msi" Component) <<'PY'
import sys
wide = {}
for row in open(sys.argv[2]).read().splitlines()[3:]:
    field = row.split("\t")
    wide[field[0]] = int(field[3]) & 256 != 0
seen, twice = set(), []
for row in open(sys.argv[1]).read().splitlines()[3:]:
    _, root, key, name, _, owner = row.split("\t")
    place = (wide[owner], root, key.lower(), name)
    if place in seen:
        twice.append(place)
    seen.add(place)
for t in twice[:5]:
    print("  in two components:", t)
sys.exit(1 if twice or not seen else 0)
PY
}
products() {  # the products of ours that Windows lists, by version
  wine "$windows/regedit.exe" /E 'C:\uninstall.reg' \
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  text "$prefix/drive_c/uninstall.reg" >"$scratch/uninstall" && rm "$prefix/drive_c/uninstall.reg"
  awk '/^\[/ {ours = 0} /"Publisher"="the wpp project"/ {ours = 1} /"DisplayVersion"/ {v = $0}
         /^$/ && ours {print v; ours = 0} END {if (ours) print v}' "$scratch/uninstall" | sed 's/.*="\(.*\)"/\1/' | sort | tr '\n' ' '
}
# Another program's .wpp: key, value's name (empty: the default) and data.
foreign='Software\Classes\.wpp||otherprogram.wpp
Software\Classes\.wpp|PerceivedType|text
Software\Classes\.wpp|Content Type|application/x-other
Software\Classes\SystemFileAssociations\.wpp|InfoTip|prop:System.Size
Software\Microsoft\Windows\CurrentVersion\Explorer\KindMap|.wpp|document'
theirs() {  # each of the other program's values holds its own data
  local key name data status=0 what
  while IFS='|' read -r key name data; do
    what=(/ve)
    [ -z "$name" ] || what=(/v "$name")
    wine "$windows/system32/reg.exe" query "HKLM\\$key" "${what[@]}" 2>/dev/null | tr -d '\r' |
      awk -F'    ' -v d="$data" '$3 == "REG_SZ" && $4 == d { found = 1 } END { exit !found }' ||
      { echo "  HKLM\\$key ${name:-(default)} is no longer $data"; status=1; }
  done <<<"$foreign"
  return $status
}
regedit_import() {  # REGEDIT4 lines on standard input
  { printf 'REGEDIT4\r\n\r\n'; sed 's/$/\r/'; } >"$prefix/drive_c/import.reg"
  wine "$windows/regedit.exe" /S 'C:\import.reg' && rm "$prefix/drive_c/import.reg"
}

# Windows Installer's own keys, empty, as on every Windows that has run it
# (Wine makes them at its first install, and leaves them after the last
# removal), and the keys of $emptied, made where the copy has none (empty,
# as the kind map is in a prefix where the WIC test has run) and left as they
# are where it has them (the 32-bit classes, full where 32-bit code runs).
for key in Classes\\Installer\\{Features,Products,UpgradeCodes} \
  Microsoft\\Windows\\CurrentVersion\\Installer\\{UpgradeCodes,UserData\\S-1-5-18\\{Components,Products}}; do
  printf '[HKEY_LOCAL_MACHINE\\Software\\%s]\n' "$key"
done | regedit_import
while read -r key; do
  [ $kind != 32 ] || [[ $key != *Wow6432Node* ]] || continue
  printf '[%s]\n' "$key"
done <<<"$emptied" | regedit_import
started=$SECONDS
if [ $arch = arm64 ]; then
  # Before the baseline, which then holds what the ARM64 Wine's first
  # session writes of its own.
  cp "$packages/wpp-$version-x64.msi" "$prefix/drive_c/x64.msi"
  status=0
  msiexec /i 'C:\x64.msi' || status=$?
  # Wine logs no launch condition's message under /qn: the action that
  # ended the install, and the property it reads (absent here), say which.
  [ $status != 0 ] && grep -qE "Action ended .*: LaunchConditions\. Return value [^1]" "$scratch/log" &&
    ! grep -q "Property(.): Msix64 " "$scratch/log" && [ -z "$(products)" ] &&
    [ ! -e "$prefix/drive_c/Program Files/wpp" ]
  say $? "the x64 package refuses Windows on ARM at its launch conditions, no Msix64 here (status $status), and installs nothing"
fi
snapshot before
! text "$scratch/before-machine.reg" | grep -qi F6DCA0D7 ||
  say 1 "the copy of the prefix holds a registration of the codec already"
# The package's life, a step a line: what runs, then what it shows (both
# evaluated; the status is the last command's). Blank lines are passed over.
codecs_in_place() {  # each codec's file is the release's, and its rows read back in its view
  local codec component view folder from status=0
  for codec in "${codecs[@]}"; do
    IFS=: read -r component view folder from <<<"$codec"
    cmp -s "$prefix/drive_c/$folder/wppwic.dll" "$stage/$from/wppwic.dll" ||
      { echo "  C:\\$folder\\wppwic.dll is not the release's $from codec"; status=1; }
    in_its_view "$component" "$view" "C:\\${folder//\//\\}" || status=1
  done
  IFS=: read -r _ view folder _ <<<"${codecs[0]}"
  in_its_view Shared "$view" "" || status=1
  for file in README.txt plug-in/wpp.sph; do
    cmp -s "$prefix/drive_c/$folder/$file" "$stage/${file#plug-in/}" ||
      { echo "  C:\\$folder\\$file is not the release's"; status=1; }
  done
  return $status
}
wow64_decodes() {  # a 32-bit program decodes through the x86 codec, where the prefix has that side
  [ $arch != x64 ] || [ "${WPP_SKIP_WOW64:-0}" = 1 ] || WPP_WINE_PREFIX_KIND=64 decodes win32
}
failed_install() { ! msiexec /i 'C:\failing.msi'; }
foreign_values() {  # another program's .wpp values, imported
  while IFS='|' read -r key name data; do
    printf '[HKEY_LOCAL_MACHINE\\%s]\n' "$key"
    if [ -z "$name" ]; then printf '@="%s"\n' "$data"; else printf '"%s"="%s"\n' "$name" "$data"; fi
  done <<<"$foreign" | regedit_import && snapshot foreign
}
while IFS='|' read -r run what; do
  [ -n "$run" ] && [ "${run:0:1}" != '#' ] || continue
  eval "$run" </dev/null
  say $? "$(eval "echo \"${what# }\"")"
done <<'EOF'
msiexec /i 'C:\this.msi'                 | wpp-$version-$arch.msi installs (msiexec /i /qn)
codecs_in_place                          | each codec's rows read back in its own view (${codecs[*]%%:*}), the shared ones in the native view, and the files are the release's
one_component_each                       | no registry value is in two components
grep -q NotifyShell "$scratch/log" && grep -q WriteRegistryValues "$scratch/log" | the registry rows were written and the shell told
decodes                                  | WIC alone finds the installed codec (the sample decodes to the PNG of the registered one), and the property handler gives its size ($size)
wow64_decodes                            | and a 32-bit program there (x64's WoW64, where the prefix has that side) decodes it through the x86 codec, and reads its size

msiexec /i 'C:\next.msi'                 | wpp-$next-$arch.msi installs over $version
[ "$(products)" = "$next " ]             | one product is left, $next (Windows lists: $(products))
decodes                                  | and the codec works
msiexec /x 'C:\next.msi'                 | wpp-$next-$arch.msi is removed (msiexec /x /qn)
as_before removed                        | the software keys (machine's and user's) are byte for byte as before, and no file is left

# Another program owns .wpp: its values stay its own throughout; a failed install puts back what was.
foreign_values                           | another program's .wpp values are in place
msiexec /i 'C:\this.msi' && theirs       | beside another program's .wpp, the package installs and its values stay the other's
msiexec /i 'C:\this.msi' REINSTALL=ALL REINSTALLMODE=amus && theirs | and a repair (REINSTALL=ALL REINSTALLMODE=amus) keeps them
msiexec /i 'C:\next.msi' && theirs       | and an upgrade to $next keeps them
msiexec /x 'C:\next.msi' && base=foreign as_before foreign-removed | and its removal leaves the keys as they were with the other program's values
failed_install                           | a package whose last action fails does not install
grep -q FailAtEnd "$scratch/log" && base=foreign as_before rolled-back --wine-rollback | it rolls back: the keys and files are as before
EOF
echo "msi ($arch): the installs, uses and removals took $((SECONDS - started)) s"
exit $fail

#!/usr/bin/env bash
# The x64 Windows Installer package under Wine's msiexec, in a fresh copy of
# the machine's 64-bit prefix (nothing of ours ever installed there): the
# software keys exported, the package installed, the codec found by WIC alone
# (the WIC test's converter, with no codec beside it, gives the PNG that the
# codec registered by regsvr32 gave) and the property handler by the shell's
# key (the WIC test's host gives the sample's size), each codec's rows read back in its own
# registry view, a package of the next version installed over it (one
# product left, working), that one removed, and the exports and the files
# then as they were; and a package whose install fails at its very end, which
# leaves them so too. The x86 package and the x86 codec's loading are not
# run: this needs 32-bit code, which the 64-bit prefix cannot run here.
#   tests/msi_test.sh PACKAGES STAGE VERSION PNG   (as tests/package_test.sh calls it)
# Every check runs, and says how it went; the status is 1 if one failed.
set -uo pipefail
cd "$(dirname "$0")/.."
packages=$1 stage=$2 version=$3 want_png=$4
scratch=$(mktemp -d)
prefix=$scratch/prefix
bash scripts/wine-run --prepare 64 && cp -a "${WPP_WINEPREFIX64:-$HOME/.wine-wpp64}" "$prefix" ||
  exit 1
export WPP_WINEPREFIX64=$prefix
trap 'WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k 2>/dev/null; rm -rf "$scratch"' EXIT
windows=$prefix/drive_c/windows
fail=0
say() {  # status, then what was checked
  local status=$1
  shift
  if [ "$status" = 0 ]; then echo "msi: $*"; else echo "msi: FAILED: $*"; fail=1; fi
}

next=${version%.*}.$((${version##*.} + 1))
cp "$packages/wpp-$version-x64.msi" "$prefix/drive_c/this.msi" &&
  bash scripts/package --msi "$stage" "$prefix/drive_c/next.msi" x64 "$next" &&
  bash scripts/package --msi "$stage" "$prefix/drive_c/failing.msi" x64 "$version" --failing || exit 1

msiexec() {  # ARGS...: the status and the installer's log in $scratch/log
  local status=0
  bash scripts/wine-run "$windows/system32/msiexec.exe" "$@" /qn /l*v 'C:\msi.log' || status=$?
  cp "$prefix/drive_c/msi.log" "$scratch/log" 2>/dev/null || : >"$scratch/log"
  return $status
}
snapshot() {  # NAME: the software keys, machine's and user's, and the files
  bash scripts/wine-run "$windows/regedit.exe" /E 'C:\machine.reg' 'HKEY_LOCAL_MACHINE\Software'
  bash scripts/wine-run "$windows/regedit.exe" /E 'C:\user.reg' 'HKEY_CURRENT_USER\Software'
  mv "$prefix/drive_c/machine.reg" "$scratch/$1-machine.reg"
  mv "$prefix/drive_c/user.reg" "$scratch/$1-user.reg"
# Windows Installer's own cache folder stays, as on Windows.
  local kind
  for kind in f d; do
    (cd "$prefix/drive_c" && find . -path ./users -prune -o -type $kind -print |
      grep -vE '^\./(msi\.log|[a-z]+\.msi|windows/Installer)$' | sort) >"$scratch/$1-$kind"
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
as_before() {  # NAME [--wine-rollback]: the snapshot of that name is the one before installing
  snapshot "$1"
  local part status=0
  if [ "${2:-}" = --wine-rollback ]; then
    left_records "$1" >"$scratch/$1-kept"
    echo "  Wine's rollback left $(cat "$scratch/dropped") empty keys of its own component records," \
      "and these empty folders:" $(comm -13 "$scratch/before-d" "$scratch/$1-d" | tr ' ' '_') "(none else)"
    text "$scratch/before-machine.reg" | cmp -s - "$scratch/$1-kept" &&
      cp "$scratch/before-machine.reg" "$scratch/$1-machine.reg"
    comm -23 "$scratch/before-d" "$scratch/$1-d" | grep -q . || cp "$scratch/before-d" "$scratch/$1-d"
  fi
  for part in machine.reg user.reg f d; do
    cmp -s <(text "$scratch/before-$part") <(text "$scratch/$1-$part") || {
      status=1
      echo "  $part differs:"
      diff <(text "$scratch/before-$part") <(text "$scratch/$1-$part") | head -n 40
    }
  done
  return $status
}
# The sample through WIC, by the test's converter from a folder with no
# codec, and its size from the property handler that the shell's key names.
sample=samples/colour-bars.wpp
size=$(od -An -tu2 -j20 -N4 "$sample" | awk '{print "HorizontalSize " $1 ", VerticalSize " $2}')
decodes() {
  rm -rf "$scratch/host" && mkdir -p "$scratch/host/png"
  cp build/win64/wic_test.exe "$scratch/host/"
  bash scripts/wine-run "$scratch/host/wic_test.exe" --installed --png "$scratch/host/png" \
    "$sample" >/dev/null && cmp -s "$scratch/host/png/colour-bars.png" "$want_png" &&
    bash scripts/wine-run "$scratch/host/wic_test.exe" --installed --details "$sample" |
    grep -q "$size, BitDepth 16"
}
# Each codec's rows, as the package holds them, read back in its own view.
in_its_view() {  # component view folder
  bash scripts/wine-run "$windows/system32/reg.exe" query 'HKLM\Software' /s "/reg:$2" \
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
missing = []
for row in open(rows).read().splitlines()[3:]:
    _, _, key, name, value, owner = row.split("\t")
    if owner != component:
        continue
    if name == "*":
        want = (key.lower(), None, None)
    elif value.startswith("#x"):
        want = (key.lower(), name, value[2:])
    elif value.startswith("#"):
        want = (key.lower(), name, "0x%x" % int(value[1:]))
    else:
        want = (key.lower(), name, value.replace("[#%s]" % component, folder + "\\wppwic.dll"))
    if want not in have:
        missing.append(want)
for m in missing[:5]:
    print("  not in the view:", m)
sys.exit(1 if missing else 0)
PY
}
products() {  # the products of ours that Windows lists, by version
  bash scripts/wine-run "$windows/regedit.exe" /E 'C:\uninstall.reg' \
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  text "$prefix/drive_c/uninstall.reg" >"$scratch/uninstall" && rm "$prefix/drive_c/uninstall.reg"
  awk '/^\[/ {ours = 0} /"Publisher"="the wpp project"/ {ours = 1} /"DisplayVersion"/ {v = $0}
         /^$/ && ours {print v; ours = 0} END {if (ours) print v}' "$scratch/uninstall" | sed 's/.*="\(.*\)"/\1/' | sort | tr '\n' ' '
}

# Windows Installer's own keys, empty, as on every Windows that has run it:
# Wine makes them at its first install, and leaves them after the last removal.
{
  printf 'REGEDIT4\r\n'
  for key in Classes\\Installer\\{Features,Products,UpgradeCodes} \
    Microsoft\\Windows\\CurrentVersion\\Installer\\{UpgradeCodes,UserData\\S-1-5-18\\{Components,Products}}; do
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\%s]\r\n' "$key"
  done
} >"$prefix/drive_c/installer.reg"
bash scripts/wine-run "$windows/regedit.exe" /S 'C:\installer.reg' && rm "$prefix/drive_c/installer.reg"
snapshot before
! text "$scratch/before-machine.reg" | grep -qi F6DCA0D7 ||
  say 1 "the copy of the prefix holds a registration of the codec already"

started=$SECONDS
msiexec /i 'C:\this.msi'
say $? "wpp-$version-x64.msi installs (msiexec /i /qn)"
for file in "Program Files/wpp/wppwic.dll" "Program Files (x86)/wpp/wppwic.dll" \
  "Program Files/wpp/README.txt" "Program Files/wpp/plug-in/wpp.sph"; do
  cmp -s "$prefix/drive_c/$file" "$stage/$(case $file in *x86*) echo x86/wppwic.dll ;;
    */wppwic.dll) echo x64/wppwic.dll ;; *plug-in*) echo wpp.sph ;; *) echo README.txt ;; esac)" ||
    say 1 "C:\\$file is not the release's"
done
grep -q "NotifyShell" "$scratch/log" && grep -q "WriteRegistryValues" "$scratch/log"
say $? "the registry rows were written and the shell told"
in_its_view CodecX64 64 'C:\Program Files\wpp'
say $? "the x64 codec's rows read back in the 64-bit view"
in_its_view CodecX86 32 'C:\Program Files (x86)\wpp'
say $? "the x86 codec's rows read back in the 32-bit view (the x86 codec itself is not loaded: no 32-bit code runs here)"
decodes
say $? "WIC alone finds the installed codec (the sample decodes to the PNG of the registered one), and the property handler gives its size ($size)"

msiexec /i 'C:\next.msi'
say $? "wpp-$next-x64.msi installs over $version"
[ "$(products)" = "$next " ]
say $? "one product is left, $next (Windows lists: $(products))"
decodes
say $? "and the codec works"

msiexec /x 'C:\next.msi'
say $? "wpp-$next-x64.msi is removed (msiexec /x /qn)"
as_before removed
say $? "the software keys (machine's and user's) are byte for byte as before, and no file is left"

status=0
msiexec /i 'C:\failing.msi' || status=$?
[ $status != 0 ]
say $? "a package whose last action fails does not install (status $status: the exit code cut to 8 bits)"
grep -q "FailAtEnd" "$scratch/log" && as_before rolled-back --wine-rollback
say $? "it rolls back: the keys and files are as before"
echo "msi: the installs, uses and removals took $((SECONDS - started)) s"
exit $fail

#!/usr/bin/env bash
# The release archive, proven: built twice from the last commit in two
# temporary folders, byte for byte the same (on a mismatch, which entry
# differs and where), its BUILDINFO naming this machine's toolchain; then
# taken as a user takes it, unpacked into an empty folder, its checksums
# checked, and each plug-in loaded under Wine by a host of its own kind:
# wpp2bmp converting a sample to the very bytes the native build writes, and
# for ARM64 the bare viewer test, whose checks hold every byte to the
# reference; and each WIC codec registered and decoding the sample through
# WIC. Needs the hosts built: build/win32, build/win64 and build/winarm64,
# and build/native64 for the reference. Then each installer package under
# Wine's msiexec (tests/msi_test.sh), and the Debian packages, installed and
# purged (tests/deb_test.sh). WPP_SKIP_WIN32=1 leaves the 32-bit loads out,
# where the machine cannot run them, WPP_SKIP_WOW64=1 the 32-bit program in
# the 64-bit prefix, and WPP_SKIP_MSI32=1 the 32-bit msiexec.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/machine  # codec_folder
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail=0
# Every Windows program here ends within this natively (five times it under
# an emulator), or is stopped and fails.
export WPP_WINE_TIMEOUT=${WPP_WINE_TIMEOUT:-240}

export WPP_SETUP_DONE=1
WPP_PACKAGE_STAGE=$scratch/stage bash scripts/package "$scratch/first" >/dev/null
archive=$(cd "$scratch/first" && ls wpp-*.zip)
version=${archive#wpp-}
version=${version%.zip}
# Built again in another folder by the check a user can run: the same bytes,
# or which entry differs and which package version differs from BUILDINFO.
bash scripts/package --check "$scratch/first/$archive" || fail=1
# BUILDINFO names this machine's toolchain, exactly.
if [ "$(unzip -p "$scratch/first/$archive" BUILDINFO.txt | tr -d '\r' | tail -n +4)" = \
  "$(bash scripts/package --buildinfo)" ]; then
  echo "package: BUILDINFO.txt names the packages of the machine that built it"
else
  echo "package: BUILDINFO.txt does not name this machine's packages"
  fail=1
fi

# As a user gets it: the README's check passes for the archive alone
# (unpacked beside the sums), for one package alone, and for everything, and
# fails for a file that is not the one listed.
sums() {  # FOLDER FILE...: the files and the sums in a folder of their own; the check's status
  rm -rf "${scratch:?}/$1" && mkdir "$scratch/$1" && (
    cd "$scratch/first" && cp SHA256SUMS "${@:2}" "$scratch/$1/"
    cd "$scratch/$1" && { [ "$2" != "$archive" ] || unzip -q "$archive"; } &&
      sha256sum --quiet --ignore-missing -c SHA256SUMS
  )
}
for set in "$archive" "wpp-$version-arm64.msi" "$archive $(cd "$scratch/first" && echo wpp-*.msi ./*.deb wpp.html wpp-image-*.tgz)"; do
  # shellcheck disable=SC2086  # one file a word
  if sums check $set; then
    echo "package: sha256sum --ignore-missing -c SHA256SUMS passes beside ${set// /, }"
  else
    echo "package: the README's check fails beside ${set// /, }"
    fail=1
  fi
done
if printf x >>"$scratch/check/wpp-$version-x86.msi" && (cd "$scratch/check" &&
  sha256sum --quiet --ignore-missing -c SHA256SUMS >/dev/null 2>&1); then
  echo "package: the README's check passes a package that is not the one listed"
  fail=1
fi
user=$scratch/user
mkdir "$user"
cp "$scratch/first/$archive" "$scratch/first/SHA256SUMS" "$user/"
(cd "$user" && unzip -q "$archive")
want=$scratch/want
mkdir "$want"
build/native64/wpp2bmp -q -o "$want" samples/colour-bars.wpp >/dev/null
check_load() {  # what, then the command that converts into $scratch/have
  local what=$1
  shift
  rm -rf "$scratch/have" && mkdir "$scratch/have"
  if "$@" >/dev/null && cmp -s "$scratch/have/colour-bars.bmp" "$want/colour-bars.bmp"; then
    echo "package: $what, loaded from the archive, converts the sample to the native bytes"
  else
    echo "package: $what, loaded from the archive, did not give the native bytes"
    fail=1
  fi
}
if [ "${WPP_SKIP_WIN32:-0}" != 1 ]; then
  check_load wpp.spi bash scripts/wine-run build/win32/wpp2bmp.exe -q --plugin "$user/wpp.spi" \
    -o "$scratch/have" samples/colour-bars.wpp
fi
check_load wpp.sph bash scripts/wine-run build/win64/wpp2bmp.exe -q --plugin "$user/wpp.sph" \
  -o "$scratch/have" samples/colour-bars.wpp
# The viewer test loads the plug-in beside itself, as a viewer in that folder would.
cp build/winarm64/viewer_test.exe "$user/"
if bash scripts/wine-run "$user/viewer_test.exe" >/dev/null; then
  echo "package: wpp.spha, loaded from the archive, passes the viewer test"
else
  echo "package: wpp.spha, loaded from the archive, fails the viewer test"
  fail=1
fi

# Each codec from the archive, registered from its folder by the WIC test's
# converter, turns the sample into the same PNG through WIC: every pixel the
# WPP file's, each channel's bits repeated below it to 8 (green's six kept).
for preset in win64 win32 winarm64; do
  folder=${codec_folder[$preset]}
  [ $folder != x86 ] || [ "${WPP_SKIP_WIN32:-0}" != 1 ] || continue
  cp "build/$preset/wic_test.exe" "$user/$folder/"
  mkdir -p "$scratch/png-$folder"
  if bash scripts/wine-run "$user/$folder/wic_test.exe" --png "$scratch/png-$folder" \
    samples/colour-bars.wpp >/dev/null && [ -s "$scratch/png-$folder/colour-bars.png" ] &&
    cmp -s "$scratch/png-$folder/colour-bars.png" "$scratch/png-x64/colour-bars.png"; then
    echo "package: $folder/wppwic.dll, registered from the archive, decodes the sample through WIC"
  else
    echo "package: $folder/wppwic.dll, registered from the archive, did not decode the sample"
    fail=1
  fi
done
/usr/bin/python3 - "$scratch/png-x64/colour-bars.png" samples/colour-bars.wpp <<'EOF' || fail=1
import struct, sys
from PIL import Image
png = Image.open(sys.argv[1]).convert("RGB")
wpp = open(sys.argv[2], "rb").read()
width, height = struct.unpack_from("<HH", wpp, 20)
def rgb(p):
    r, g, b = p >> 11, (p >> 5) & 63, p & 31
    return (r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2)
want = [rgb(p) for p in struct.unpack_from("<%dH" % (width * height), wpp, 24)]
same = png.size == (width, height) and list(png.getdata()) == want
print("package: the PNG through WIC holds %s pixels" % ("the WPP file's" if same else "other"))
sys.exit(0 if same else 1)
EOF

for arch in x64 arm64 x86; do
  [ $arch != x86 ] || [ "${WPP_SKIP_MSI32:-0}" != 1 ] || continue
  bash tests/msi_test.sh $arch "$scratch/first" "$scratch/stage" "$version" \
    "$scratch/png-x64/colour-bars.png" || fail=1
done
# The Debian packages, installed and purged as a user does.
bash tests/deb_test.sh "$scratch/first" || fail=1

if [ $fail = 0 ]; then echo "package: 1 passed, 0 failed"; else echo "package: 0 passed, 1 failed"; fi
exit $fail

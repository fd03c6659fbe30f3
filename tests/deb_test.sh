#!/usr/bin/env bash
# The Debian packages as a user installs them, from the folder that
# scripts/package wrote them to: lintian finds no error and no warning;
# `apt-get install ./…deb` installs them, Debian's triggers refresh
# gdk-pixbuf's loaders.cache and the MIME database, and with no test variable
# set a GTK program (GdkPixbuf through PyGObject, and the thumbnailer) and Qt
# programs (PyQt 5 and 6) open a sample, pixel for pixel (tests/desktop_files.py),
# the plug-ins where each Qt says it loads them (qmake, qtpaths6); the tools run and have their manual pages; then
# `apt-get purge` leaves no file of ours and both caches as they were. A
# trap purges them on any failure. Run as root.
#   tests/deb_test.sh FOLDER
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$(realpath "$1")
if [ "$(id -u)" != 0 ]; then
  echo "deb: SKIPPED: installing packages needs root; run the package step as root"
  exit 0
fi
version=$(sed -n 's/^project(wpp VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mapfile -t debs < <(ls "$folder"/*_"$version"_*.deb)
names=()
for deb in "${debs[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
[ ${#names[@]} = 5 ] || { echo "deb: ${#names[@]} packages in $folder, not 5" >&2; exit 1; }
scratch=$(mktemp -d)
loaders=/usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0/2.10.0/loaders.cache
mime=/usr/share/mime
# Another program may hold dpkg's lock for a while on a shared machine.
apt() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -q "$@"; }
installed() { dpkg-query -W -f='${db:Status-Status}\n' "$@" 2>/dev/null | grep -q '^installed$'; }
fail=0
pass() { echo "deb: $1"; }
flunk() {
  echo "deb: FAILED: $1"
  fail=1
}

for name in "${names[@]}"; do
  if installed "$name"; then
    echo "deb: $name is installed already; purge it first" >&2
    exit 1
  fi
done
if lintian --fail-on error,warning "${debs[@]}" >"$scratch/lintian" 2>&1; then
  pass "lintian: no error, no warning"
else
  flunk "lintian: $(cat "$scratch/lintian")"
fi

# What must be as before once they are gone: the caches, and every path of
# theirs, with the type's entry that the MIME database's trigger writes.
sums() { sha256sum "$loaders" "$mime"/mime.cache "$mime"/globs2 "$mime"/types; }
sums >"$scratch/before"
for deb in "${debs[@]}"; do dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||'; done |
  sort -u | cat - <(echo "$mime/image/x-wpp.xml") |
  while read -r path; do [ -z "$path" ] || [ -e "$path" ] || echo "$path"; done >"$scratch/new-paths"
trap 'apt purge "${names[@]}" >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT

apt install --no-install-recommends "${debs[@]}" >"$scratch/install" 2>&1 ||
  { cat "$scratch/install"; exit 1; }
pass "apt-get installed ${names[*]}"
grep -q libpixbufloader-wpp.so "$loaders" && pass "the trigger put the loader in loaders.cache" ||
  flunk "loaders.cache does not name the loader"
grep -q ':image/x-wpp:\*\.wpp' "$mime/globs2" && pass "the trigger put image/x-wpp in the MIME database" ||
  flunk "the MIME database has no image/x-wpp"

# With none of the tests' variables: what a user's session has.
clean=(env -u GDK_PIXBUF_MODULE_FILE -u XDG_DATA_DIRS -u QT_PLUGIN_PATH -u LD_LIBRARY_PATH
  -u QT_QPA_PLATFORM)
sample=$scratch/colour-bars.wpp
cp samples/colour-bars.wpp "$sample"
if "${clean[@]}" /usr/bin/python3 tests/desktop_files.py gtk "$sample"; then
  pass "a GTK program opens the sample by its type, every pixel as stored"
else
  flunk "a GTK program could not open the sample"
fi
"${clean[@]}" gdk-pixbuf-thumbnailer -s 128 "$sample" "$scratch/thumbnail.png" &&
  [ -s "$scratch/thumbnail.png" ] && pass "gdk-pixbuf-thumbnailer made its thumbnail" ||
  flunk "gdk-pixbuf-thumbnailer made no thumbnail"

for major in 5 6; do
  if [ $major = 5 ]; then
    plugins=$(qmake -query QT_INSTALL_PLUGINS)
  else
    plugins=$(/usr/lib/qt6/bin/qtpaths6 --query QT_INSTALL_PLUGINS)
  fi
  [ -f "$plugins/imageformats/libwpp.so" ] ||
    flunk "Qt $major's plug-in is not in $plugins/imageformats, where Qt $major looks"
  if "${clean[@]}" /usr/bin/python3 tests/desktop_files.py qt$major "$sample"; then
    pass "a Qt $major program opens the sample, every pixel as stored"
  else
    flunk "a Qt $major program could not open the sample"
  fi
done

"${clean[@]}" make_wpp pattern 317 211 "$scratch/odd.wpp" >/dev/null &&
  cmp -s "$scratch/odd.wpp" samples/odd-width.wpp &&
  "${clean[@]}" wpp2bmp -q -o "$scratch" "$scratch/odd.wpp" >/dev/null && [ -s "$scratch/odd.bmp" ] &&
  man -w wpp2bmp >/dev/null && man -w make_wpp >/dev/null &&
  pass "make_wpp and wpp2bmp run from the PATH, with their manual pages" ||
  flunk "the tools did not run, or have no manual pages"

apt purge "${names[@]}" >"$scratch/purge" 2>&1 || { cat "$scratch/purge"; exit 1; }
trap 'rm -rf "$scratch"' EXIT
left=$(while read -r path; do [ ! -e "$path" ] || echo "$path"; done <"$scratch/new-paths")
[ -z "$left" ] && pass "apt-get purge left no file of ours" || flunk "purge left $left"
sums | cmp -s - "$scratch/before" && pass "loaders.cache and the MIME database are as before" ||
  flunk "the caches are not as they were: $(sums | diff - "$scratch/before" || true)"
exit $fail

#!/usr/bin/env bash
# Set-up as a fresh machine meets it: a clean Debian 12 root (mmdebstrap,
# made once and kept beside set-up's other caches), copied anew for each step
# of the test command, set up for that step alone under bwrap, then asked
# `scripts/setup --have STEP` and, where the step is a preset, configured by
# CMake, which finds every library and program the step builds with. First,
# one more copy set up for the whole command, timed. Too long for the test
# command (it installs everything once per step); run it by hand, as root,
# after changing set-up's tables.
#   tests/fresh_setup_test.sh [STEP...]    the whole command's, then every step's, when none is named
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/machine
[ "$(id -u)" = 0 ] || { echo "fresh set-up: run as root" >&2; exit 2; }
bash scripts/setup roots >/dev/null || exit 2

base=/var/cache/wpp/fresh-bookworm
if [ ! -d "$base" ]; then
  mmdebstrap --variant=apt --include=ca-certificates \
    --setup-hook='mkdir -p "$1/etc/apt/sources.list.d"' \
    --customize-hook='printf "deb http://deb.debian.org/debian bookworm main\ndeb http://deb.debian.org/debian bookworm-updates main\ndeb http://deb.debian.org/debian-security bookworm-security main\n" >"$1/etc/apt/sources.list"' \
    bookworm "$base.new" http://deb.debian.org/debian >"$base.log" 2>&1 &&
    mv "$base.new" "$base" || { echo "fresh set-up: mmdebstrap failed ($base.log)" >&2; exit 2; }
fi
scratch=$(mktemp -d /var/tmp/fresh-setup.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
git archive --format=tar HEAD >"$scratch/source.tar"
in_root() {  # ROOT COMMAND...: the copy as /, the source at /src, the machine's qemu entries seen
  local root=$1
  shift
  bwrap --bind "$root" / --dev /dev --proc /proc \
    --ro-bind /proc/sys/fs/binfmt_misc /proc/sys/fs/binfmt_misc \
    --ro-bind /etc/resolv.conf /etc/resolv.conf --chdir /src \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"
}
steps=("$@")
[ ${#steps[@]} -gt 0 ] || mapfile -t steps < <(echo all; test_steps)
presets=$(sed -n 's/^ *"name": *"\([^"]*\)".*/\1/p' CMakePresets.json | sort -u)
failed=()
for step in "${steps[@]}"; do
  root=$scratch/root
  rm -rf "$root" && cp -a "$base" "$root" && mkdir -p "$root/src" &&
    tar -xf "$scratch/source.tar" -C "$root/src" || exit 2
  started=$SECONDS
  if [ $step = all ]; then
    in_root "$root" bash scripts/setup >"$scratch/log" 2>&1
  else
    in_root "$root" bash scripts/setup "$step" >"$scratch/log" 2>&1
  fi
  status=$?
  took=$((SECONDS - started))
  verdict=ok
  if [ $status != 0 ]; then
    verdict="set-up failed ($status): $(tail -n 3 "$scratch/log" | tr '\n' ' ')"
  elif [ $step != all ] && ! in_root "$root" bash scripts/setup --have "$step"; then
    verdict="set-up ended, but --have $step says something is missing"
  elif [ $step != all ] && grep -qx "$step" <<<"$presets" &&
    ! in_root "$root" cmake --preset "$step" >"$scratch/configure" 2>&1; then
    verdict="cmake --preset $step fails: $(grep -m1 -A2 'CMake Error' "$scratch/configure" | tr '\n' ' ')"
  fi
  echo "fresh set-up: $step: $verdict (set-up took $took s)"
  [ "$verdict" = ok ] || failed+=("$step")
done
[ ${#failed[@]} = 0 ] || { echo "fresh set-up: FAILED: ${failed[*]}"; exit 1; }

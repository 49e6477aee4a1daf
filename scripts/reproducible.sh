#!/usr/bin/env bash
# Checks that Kelto2.exe is reproducible: for each preset (win64 and win32
# unless named), builds it from two copies of the tree in folders of
# different names and lengths, one after the other, the second with another
# time zone and umask, and compares the two exes byte for byte. Prints their
# SHA-256; on a difference prints the differing bytes and headers and fails.
#
#   scripts/reproducible.sh [--against-build] [preset...]
#
# --against-build takes the tree's own build/<preset> as the first of the
# two builds, so only one more is made per preset: for a caller that has
# just built the presets (scripts/test.sh).
#
# The copies hold the working tree as it is, committed or not, without its
# build folder. Both builds use the cross-built dependencies of
# scripts/build-deps.sh, which are built once and shared.
set -euo pipefail
cd "$(dirname "$0")/.."

against_build=
if [ "${1:-}" = --against-build ]; then
  against_build=1
  shift
fi
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(win64 win32)

say() { printf 'reproducible: %s\n' "$*"; }
die() { printf 'reproducible: error: %s\n' "$*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelto2-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
trees=("$work/a" "$work/second-copy/of-the-source-tree")
[ -z "$against_build" ] || trees[0]=$PWD

for tree in "${trees[@]}"; do
  [ "$tree" != "$PWD" ] || continue
  mkdir -p "$tree"
  tar -c --exclude-vcs --exclude=./build . | tar -x -C "$tree"
done

# Builds the Kelto2 target of <preset> in <tree>; the output goes to a log
# whose tail shows on failure. Nothing may take the date from the clock, so
# SOURCE_DATE_EPOCH is not set.
build() {
  local tree=$1 preset=$2 log=$1/build-$2.log
  if ! (cd "$tree" && unset SOURCE_DATE_EPOCH &&
        cmake --preset "$preset" && cmake --build --preset "$preset" -j2 --target Kelto2) \
        >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    die "building $preset in $tree failed"
  fi
}

failed=0
for preset in "${presets[@]}"; do
  if [ -z "$against_build" ]; then
    say "$preset: building in ${trees[0]}"
    build "${trees[0]}" "$preset"
  fi
  say "$preset: building in ${trees[1]} (TZ=Pacific/Kiritimati, umask 0002)"
  (TZ=Pacific/Kiritimati && export TZ && umask 0002 && build "${trees[1]}" "$preset")
  a=${trees[0]}/build/$preset/bin/Kelto2.exe
  b=${trees[1]}/build/$preset/bin/Kelto2.exe
  sha256sum "$a" "$b" | sed "s|$work/||"
  if cmp -s "$a" "$b"; then
    say "$preset: identical, $(stat -c %s "$a") bytes"
  else
    failed=1
    printf '\nreproducible: %s: THE TWO BUILDS DIFFER (offset, octal bytes):\n' "$preset" >&2
    cmp -l "$a" "$b" | head -n 20 >&2 || true
    diff <(x86_64-w64-mingw32-objdump -p "$a" | tail -n +3) \
      <(x86_64-w64-mingw32-objdump -p "$b" | tail -n +3) >&2 || true
  fi
done
[ "$failed" = 0 ] || die "Kelto2.exe is not reproducible"

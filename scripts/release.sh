#!/usr/bin/env bash
# Builds the two shipped exes (presets win64-release and win32-release) and
# puts them with their SHA-256 sums into one folder:
#
#   scripts/release.sh [folder]      default build/release
#     -> Kelto2-win64.exe  Kelto2-win32.exe  SHA256SUMS
#
# The environment gives the builds' settings, as the cache variables of the
# same names; each configure starts afresh, so nothing else carries over:
#   KELTO2_RELEASE_KEY           PEM public key the exes check Setup packages
#                                and configuration files against, with
#   KELTO2_MIN_VERSION           the lowest Downloader version they install
#                                (a.b.c.d), or
#   KELTO2_UNSIGNED_RELEASE=ON   the exes run unsigned Setup packages on purpose
#   KELTO2_NEXT_RELEASE_KEY      PEM public key accepted beside the release key,
#                                while releases move to it
#   KELTO2_SIGN_CERT, KELTO2_SIGN_KEY
#                                PEM code-signing certificate (and chain) and
#                                its unencrypted key: the exes are signed
#   KELTO2_SIGN_TIMESTAMP_URL    RFC 3161 time stamp server for the signatures
#   KELTO2_SERVER_ROOT           the distribution server (default in CMakeLists)
#
# The exes are reproducible: unsigned, they have the bytes that any build of
# the same commit and toolchain has (scripts/reproducible.sh checks it); a
# signed one gives them back with `osslsigncode remove-signature`.
set -euo pipefail

say() { printf 'release: %s\n' "$*"; }
die() { printf 'release: error: %s\n' "$*" >&2; exit 1; }

out=$(realpath -m "${1:-$(dirname "$0")/../build/release}")
args=()
for var in KELTO2_RELEASE_KEY KELTO2_NEXT_RELEASE_KEY KELTO2_SIGN_CERT KELTO2_SIGN_KEY; do
  if [ -n "${!var:-}" ]; then
    [ -f "${!var}" ] || die "$var names no file: ${!var}"
    args+=("-D$var=$(realpath "${!var}")")
  fi
done
for var in KELTO2_MIN_VERSION KELTO2_UNSIGNED_RELEASE KELTO2_SIGN_TIMESTAMP_URL \
           KELTO2_SERVER_ROOT; do
  if [ -n "${!var:-}" ]; then
    args+=("-D$var=${!var}")
  fi
done

cd "$(dirname "$0")/.."
# Nothing in the build takes a date from the clock; should a tool ever do,
# it takes the commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && epoch=$(git log -1 --format=%ct 2>/dev/null); then
  export SOURCE_DATE_EPOCH=$epoch
fi
if commit=$(git rev-parse HEAD 2>/dev/null); then
  git diff --quiet HEAD 2>/dev/null || commit="$commit with uncommitted changes"
  say "building commit $commit"
fi

exes=()
for arch in win64 win32; do
  preset=$arch-release
  say "$preset: configuring and building"
  cmake --fresh --preset "$preset" "${args[@]}" >/dev/null
  cmake --build --preset "$preset" -j2 --target Kelto2
  mkdir -p "$out"
  cp "build/$preset/bin/Kelto2.exe" "$out/Kelto2-$arch.exe"
  exes+=("Kelto2-$arch.exe")
done
(cd "$out" && sha256sum "${exes[@]}" >SHA256SUMS)

if [ -n "${KELTO2_SIGN_CERT:-}" ]; then
  say "signed with $KELTO2_SIGN_CERT"
else
  say "unsigned (no KELTO2_SIGN_CERT)"
fi
say "$out:"
cat "$out/SHA256SUMS"

#!/usr/bin/env bash
# Cross-builds the image libraries for the Windows targets: libpng (against
# the static zlib of Debian's libz-mingw-w64-dev) and libjpeg-turbo, both from
# Debian's source packages (so Debian's patches apply), as static libraries
# for x86_64-w64-mingw32 and i686-w64-mingw32.
#
# Everything lives outside the tree, in
#   ${KELTO2_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/kelto2-deps}
#     src/<package>_<version>/   unpacked source packages
#     build/<triple>/<package>/  build directories
#     logs/                      full build output
#     <triple>/                  install prefix (include/, lib/)
# cmake/mingw-common.cmake computes the same root.
#
# Idempotent: the stamp holds the source package versions the apt indexes
# offer and this script's checksum; when neither changed, nothing is done.
# Needs the deb-src entries that scripts/install-deps.sh sets up.
set -euo pipefail

root=${KELTO2_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/kelto2-deps}
triples=(x86_64-w64-mingw32 i686-w64-mingw32)
packages=(libpng1.6 libjpeg-turbo)
jobs=2

say() { printf 'build-deps: %s\n' "$*"; }
die() { printf 'build-deps: error: %s\n' "$*" >&2; exit 1; }

# Prints the versions of a source package that the apt indexes offer, newest
# first.
offered_versions() {
  local pkg=$1 v vs=() sorted=() i
  while read -r v; do vs+=("$v"); done < <(apt-cache showsrc --only-source "$pkg" 2>/dev/null |
                                           awk '/^Version:/ {print $2}' | sort -u)
  # Insertion sort under Debian's version order; the lists are tiny.
  for v in "${vs[@]}"; do
    i=${#sorted[@]}
    sorted+=("$v")
    while [ "$i" -gt 0 ] && dpkg --compare-versions "${sorted[i - 1]}" lt "$v"; do
      sorted[i]=${sorted[i - 1]}
      i=$((i - 1))
    done
    sorted[i]=$v
  done
  printf '%s\n' "${sorted[@]}"
}

stamp_key() {
  local pkg
  for pkg in "${packages[@]}"; do
    printf '%s %s\n' "$pkg" "$(offered_versions "$pkg" | tr '\n' ' ')"
  done
  printf 'script %s\n' "$(md5sum <"${BASH_SOURCE[0]}" | cut -d' ' -f1)"
}

installed_ok() {
  local t
  for t in "${triples[@]}"; do
    [ -f "$root/$t/lib/libpng16.a" ] && [ -f "$root/$t/lib/libjpeg.a" ] &&
      [ -f "$root/$t/include/png.h" ] && [ -f "$root/$t/include/jpeglib.h" ] || return 1
  done
}

key=$(stamp_key)
grep -q '^libpng1.6 [^ ]' <<<"$key" && grep -q '^libjpeg-turbo [^ ]' <<<"$key" ||
  die "apt knows no source packages libpng1.6/libjpeg-turbo; run scripts/install-deps.sh (deb-src entries)"
if [ -f "$root/stamp" ] && [ "$(cat "$root/stamp")" = "$key" ] && installed_ok; then
  say "up to date ($root)"
  exit 0
fi

mkdir -p "$root/src" "$root/logs"

# Runs a step with its output in a log file; shows the log's tail on failure.
logged() {
  local log=$1
  shift
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    die "failed: $* (full log: $log)"
  fi
}

# Fetches and unpacks the newest offered version that the mirror can deliver
# (an index can name a version whose files are not there yet). Prints the
# source tree's path on stdout.
fetch_source() {
  local pkg=$1 v dir log=$root/logs/fetch-$1.log
  : >"$log"
  while read -r v; do
    dir=$root/src/${pkg}_${v#*:}
    if [ -f "$dir/.fetched" ]; then
      say "source $pkg $v: cached" >&2
      find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
      return 0
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    say "source $pkg $v: apt-get source" >&2
    if (cd "$dir" && apt-get source -qq "$pkg=$v" </dev/null) >>"$log" 2>&1; then
      touch "$dir/.fetched"
      printf '%s\n' "$v" >"$dir/.version"
      find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
      return 0
    fi
    say "source $pkg $v: not available, trying an older one" >&2
    rm -rf "$dir"
  done < <(offered_versions "$pkg")
  tail -n 20 "$log" >&2
  die "could not fetch any version of $pkg (log: $log)"
}

write_toolchain() {
  local triple=$1 file=$root/build/$triple/toolchain.cmake
  mkdir -p "$(dirname "$file")"
  cat >"$file" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${triple%%-*})
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
  printf '%s\n' "$file"
}

build_libpng() {
  local triple=$1 src=$2 prefix=$root/$1 bdir=$root/build/$1/libpng log=$root/logs/$1-libpng.log
  : >"$log"
  rm -rf "$bdir"
  say "$triple libpng: configure, build, install (log: $log)"
  logged "$log" cmake -S "$src" -B "$bdir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$(write_toolchain "$triple")" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DSKIP_INSTALL_EXECUTABLES=ON -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON \
    -DZLIB_INCLUDE_DIR="/usr/$triple/include" -DZLIB_LIBRARY="/usr/$triple/lib/libz.a"
  logged "$log" cmake --build "$bdir" -j "$jobs"
  logged "$log" cmake --install "$bdir"
}

# libjpeg-turbo 2.1 always builds its command-line tools and tests with the
# library and has no switch against it, so only the library target is built
# and installed by hand, with the headers its own install would copy.
build_libjpeg() {
  local triple=$1 src=$2 prefix=$root/$1 bdir=$root/build/$1/libjpeg log=$root/logs/$1-libjpeg.log
  : >"$log"
  rm -rf "$bdir"
  say "$triple libjpeg-turbo: configure, build, install (log: $log)"
  logged "$log" cmake -S "$src" -B "$bdir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$(write_toolchain "$triple")" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF \
    -DWITH_JAVA=OFF -DWITH_FUZZ=OFF
  logged "$log" cmake --build "$bdir" -j "$jobs" --target jpeg-static
  mkdir -p "$prefix/lib" "$prefix/include"
  install -m 644 "$bdir/libjpeg.a" "$prefix/lib/"
  install -m 644 "$bdir/jconfig.h" "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" \
    "$prefix/include/"
}

png_src=$(fetch_source libpng1.6)
jpeg_src=$(fetch_source libjpeg-turbo)

rm -f "$root/stamp"
for triple in "${triples[@]}"; do
  command -v "$triple-gcc-posix" >/dev/null || die "$triple-gcc-posix missing; run scripts/install-deps.sh"
  [ -f "/usr/$triple/lib/libz.a" ] || die "/usr/$triple/lib/libz.a missing (libz-mingw-w64-dev)"
  rm -rf "${root:?}/$triple"
  build_libpng "$triple" "$png_src"
  build_libjpeg "$triple" "$jpeg_src"
done
printf '%s\n' "$key" >"$root/stamp"
say "done: $(printf '%s ' "${triples[@]/#/$root/}")"

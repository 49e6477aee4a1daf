#!/usr/bin/env bash
# Runs every libFuzzer target of a host build for a while, each on a scratch
# copy of its seed corpus (the repository's corpus never grows). Exits non-zero
# when a target crashes, breaks a property or a sanitizer reports anything;
# the offending inputs are kept under <build-dir>/fuzz-failures/.
#
#   scripts/fuzz.sh <build-dir> [seconds-per-target, default 30]
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <build-dir> [seconds-per-target]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=${2:-30}
repo=$(cd "$(dirname "$0")/.." && pwd)
corpora=$repo/tests/fuzz/corpus

# The INI target needs room for a [forceupdate] section past its listing limit.
declare -A max_len=([fuzz_ini_config]=40000)
targets=(fuzz_ini_config fuzz_version fuzz_command_line fuzz_parse_color fuzz_image_decode
         fuzz_layout fuzz_format fuzz_package_check fuzz_checker)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
for t in "${targets[@]}"; do
  exe=$build/bin/$t
  if [ ! -x "$exe" ]; then
    echo "FAIL $t: $exe not built" >&2
    failed=1
    continue
  fi
  dir=$work/$t
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp -R "$corpora/$t/." "$dir/corpus/"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$dir/artifacts/")
  if [ -n "${max_len[$t]:-}" ]; then
    args+=(-max_len="${max_len[$t]}")
  fi
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$exe" "${args[@]}" "$dir/corpus" >"$dir/log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n1)
  if [ $rc -ne 0 ] || grep -qE 'runtime error:|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|property failed' "$dir/log" \
     || [ -n "$(ls -A "$dir/artifacts")" ]; then
    echo "FAIL $t (exit $rc, ${runs:-?} runs)" >&2
    tail -n 40 "$dir/log" >&2
    keep=$build/fuzz-failures/$t
    mkdir -p "$keep"
    cp "$dir/log" "$keep/log"
    cp -R "$dir/artifacts/." "$keep/" 2>/dev/null || true
    echo "inputs and log kept in $keep" >&2
    failed=1
  else
    echo "ok   $t: ${runs:-?} runs in ${seconds}s, corpus $(ls "$dir/corpus" | wc -l) inputs"
  fi
done
exit $failed

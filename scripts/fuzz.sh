#!/usr/bin/env bash
# Runs the libFuzzer targets of the file parsers. Usage:
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#   scripts/fuzz.sh all SECONDS [libFuzzer options...]
# TARGET is scanner, smftrack, lyrics, wav, mp3, module, cdtext, lrc, cdg or zip (or fuzz_scanner and so on). The
# targets are configured and built with clang into build-fuzz/ (Ninja, two jobs), then each
# runs for SECONDS on its committed seed corpus (fuzz/corpus/TARGET, only read) and the inputs
# it finds (build-fuzz/corpus/TARGET). Crashes, leaks and slow inputs land in
# build-fuzz/findings/TARGET/, the log in build-fuzz/logs/TARGET.log. Exits non-zero when a
# target found anything.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
all_targets=(scanner smftrack lyrics wav mp3 module cdtext lrc cdg zip)

usage() {
  echo "usage: scripts/fuzz.sh TARGET|all SECONDS [libFuzzer options...]" >&2
  echo "       TARGET: ${all_targets[*]}" >&2
  exit 2
}
(($# >= 2)) || usage
which=$1
seconds=$2
shift 2
[[ "$seconds" =~ ^[0-9]+$ ]] || usage
if [[ "$which" == all ]]; then
  targets=("${all_targets[@]}")
else
  targets=("${which#fuzz_}")
  [[ " ${all_targets[*]} " == *" ${targets[0]} "* ]] || usage
fi

if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORIVELR_FUZZ=ON -DORIVELR_BENCH=OFF
fi
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

status=0
for t in "${targets[@]}"; do
  name="fuzz_$t"
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/logs/$t.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  echo "fuzz: $name for ${seconds}s"
  # A second per input at most (the decoders read one second of a song), 2 GB of memory.
  set +e
  seeds=()
  [[ -d "$root/fuzz/corpus/$t" ]] && seeds=("$root/fuzz/corpus/$t")
  "$build/fuzz/$name" "$work" "${seeds[@]}" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$@" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(grep -oE 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -1 || true)
  [[ -n "$runs" ]] || runs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$log" | tail -1 || true)
  found=$(find "$findings" -type f | wc -l)
  echo "fuzz: $name: ${runs:-no statistics} (exit $rc), $found finding(s) in $findings"
  if ((rc != 0 || found > 0)); then
    status=1
    grep -E 'ERROR: |SUMMARY: |==[0-9]+==' "$log" | head -5 || true
    find "$findings" -type f | head -10
  fi
done
exit $status

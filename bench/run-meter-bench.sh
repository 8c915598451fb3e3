#!/usr/bin/env bash
# The meter control on the virtual microphone of a private sound server: its CPU and memory
# over 10 s of metering at best resolution (44.1 kHz stereo 16 bit), beside parecord capturing
# the same source as the peer, and the time from a tone burst reaching the microphone to the
# first meter update that shows it. Build first (bench_meter); $BUILD_DIR names the build folder.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${BUILD_DIR:-build}
[[ -x "$build/bench/bench_meter" ]] || { echo "build first: $build/bench/bench_meter" >&2; exit 1; }
work=$(mktemp -d)
export ORIVELR_SOUND_STATE=$work/sound.state ORIVELR_HOME=$work QT_QPA_PLATFORM=offscreen
trap 'scripts/sound-server.sh stop >/dev/null; rm -rf "$work"' EXIT
scripts/sound-server.sh start >/dev/null
eval "$(scripts/sound-server.sh env)"
mkdir -p bench/out
seconds=10
{
  echo "meter bench $(date -u +%Y-%m-%dT%H:%M:%SZ), build $build"
  echo "LumoCtl:  $("$build/bench/bench_meter" cpu "$seconds")"
  # The peer: parecord capturing the same source in the same format for as long.
  parecord -d kara_mic --rate=44100 --channels=2 --format=s16le --raw /dev/null &
  rec=$!
  sleep 1
  t0=$(awk '{print $14 + $15}' "/proc/$rec/stat")
  sleep "$seconds"
  t1=$(awk '{print $14 + $15}' "/proc/$rec/stat")
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$rec/status")
  kill -INT "$rec"; wait "$rec" 2>/dev/null || true
  hz=$(getconf CLK_TCK)
  echo "parecord: cpu $(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "%.2f", 100 * (b - a) / hz / s }') % of one core over $seconds s, resident $rss KiB"
  echo "LumoCtl:  $("$build/bench/bench_meter" latency 20)"
} | tee bench/out/meter.txt

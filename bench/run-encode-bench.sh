#!/usr/bin/env bash
# The MP3 encoder against the lame command at the same settings: a 3-minute 44.1 kHz stereo
# 16-bit WAV (chords, a gliding tone and pink noise), encoded CBR at the same bit rate and the
# same quality level (-q 3, libmp3lame's level in orivelR as in lame's own default), timed with
# hyperfine (or the best of 5 runs without it). Prints the seconds and the ratio orivelR/lame.
# Build first (orivelR-cli); $BUILD_DIR names the build folder, $BITRATE the bit rate in bit/s.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${BUILD_DIR:-build}
cli=$build/tools/orivelR-cli
[[ -x "$cli" ]] || { echo "build first: $cli" >&2; exit 1; }
command -v lame >/dev/null || { echo "run-encode-bench: lame is missing (scripts/install-deps.sh)" >&2; exit 1; }
bitrate=${BITRATE:-128000}
kbps=$((bitrate / 1000))
mkdir -p bench/out
song=bench/out/encode-3min.wav
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -f "$song" ]]; then
  echo "run-encode-bench: making $song" >&2
  sox -q -r 44100 -c 4 -n "$work/tones.wav" synth 180 \
    pluck C3 triangle E3 sine 220:440 pinknoise remix 1v0.3,2v0.3,3v0.3,4v0.05 tremolo 3 40 \
    lowpass 6000
  sox -q -r 44100 -c 4 -n "$work/tones2.wav" synth 180 \
    square A2 triangle C4 sine 330:660 pinknoise remix 1v0.15,2v0.3,3v0.3,4v0.05 tremolo 2 50
  sox -q -M "$work/tones.wav" "$work/tones2.wav" -b 16 "$song" gain -n -1
fi

orivelr=("$cli" encode "$song" "$work/orivelR.mp3" --bitrate "$bitrate")
peer=(lame --quiet -b "$kbps" --cbr -q 3 "$song" "$work/lame.mp3")
# The lame command also measures ReplayGain by default, which orivelR does not: timed both ways.
peer2=(lame --quiet -b "$kbps" --cbr -q 3 --noreplaygain "$song" "$work/lame-norg.mp3")

runs=5
source bench/common.sh

{
  echo "encode bench $(date -u +%Y-%m-%dT%H:%M:%SZ), build $build, $song, CBR $kbps kb/s -q 3"
  if command -v hyperfine >/dev/null; then
    hyperfine --warmup 1 --runs 5 --style basic --export-json "$work/h.json" \
      -n orivelR "${orivelr[*]} 2>/dev/null" -n lame "${peer[*]}" -n lame-norg "${peer2[*]}" >&2
    read -r a b c < <(python3 -c 'import json,sys
r={x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
print(r["orivelR"]["mean"], r["lame"]["mean"], r["lame-norg"]["mean"])' "$work/h.json")
    how="mean of 5 (hyperfine)"
  else
    a=$(best_of "${orivelr[@]}")
    b=$(best_of "${peer[@]}")
    c=$(best_of "${peer2[@]}")
    how="best of 5"
  fi
  echo "orivelR-cli encode: $(printf '%.3f' "$a") s ($how)"
  echo "lame:               $(printf '%.3f' "$b") s ($how)"
  echo "lame --noreplaygain: $(printf '%.3f' "$c") s ($how)"
  echo "ratio orivelR/lame: $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')"
  echo "ratio orivelR/lame --noreplaygain: $(awk -v a="$a" -v c="$c" 'BEGIN { printf "%.3f", a / c }')"
  echo "sizes: orivelR $(stat -c %s "$work/orivelR.mp3") B, lame $(stat -c %s "$work/lame.mp3") B"
} | tee bench/out/encode.txt

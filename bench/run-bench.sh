#!/usr/bin/env bash
# Times the offline renderer against its peers in one run, on a 3-minute song made once:
#   (a) orivelR-cli render IN OUT.wav --remover --loudness off
#   (a+) the same with "Same loudness for every song" on (measured by the first, untimed run;
#        the timed runs find the loudness in their cache, as a song played again does)
#   (b) sox IN OUT.wav oops                     (sox's own centre cancelling)
#   (c) ffmpeg with a pan filter doing L-R      (the same in FFmpeg)
#   (d) mpg123 -w OUT.wav IN.mp3                 (MP3 only: decoding alone, the floor)
# each the best of 3, for the WAV and its 192 kb/s MP3, and prints seconds and the ratios
# (a)/min(b,c) and (a)/(d). Then runs the Google Benchmark binary bench_chain when it is built.
# Everything goes to bench/out/ (results.txt); the renderer plays on device 0, so no sound server
# is needed. BUILD_DIR selects the build folder (default build/).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${BUILD_DIR:-build}
out=bench/out
runs=3
mkdir -p "$out"
results=$out/results.txt
song=$out/song-3min.wav
mp3=$out/song-3min.mp3
cli=$build/tools/orivelR-cli

# The song: on the sides, a different chord on each channel with its own pulse and a little
# independent noise; in the centre, a "singer" gliding slowly upwards with a tremolo, equal in
# both channels. Real music has both, and the remover has to tell them apart.
if [[ ! -f "$song" ]]; then
  echo "run-bench: making $song" >&2
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  sox -q -r 44100 -c 6 -n "$tmp/left.wav" synth 180 \
    pluck C3 square E3 triangle G3 sine C4 pinknoise sine C2 \
    remix 1v0.3,2v0.15,3v0.3,4v0.3,5v0.02,6v0.4 tremolo 2 60 lowpass 4000
  sox -q -r 44100 -c 5 -n "$tmp/right.wav" synth 180 \
    triangle A2 square C3 triangle E3 pinknoise sawtooth A1 \
    remix 1v0.3,2v0.15,3v0.3,4v0.02,5v0.2 tremolo 3 50 lowpass 3000
  sox -q -r 44100 -c 2 -n "$tmp/voice.wav" synth 180 sine 220:440 sine 330:660 \
    remix 1v0.5,2v0.3 tremolo 5 20 gain -3
  sox -q -M "$tmp/left.wav" "$tmp/right.wav" "$tmp/sides.wav"
  sox -q "$tmp/voice.wav" "$tmp/centre.wav" remix 1 1
  sox -q -m -v 0.5 "$tmp/sides.wav" -v 0.5 "$tmp/centre.wav" -b 16 "$tmp/song.wav" gain -n -1
  mv "$tmp/song.wav" "$song"
fi
if [[ ! -f "$mp3" ]]; then
  echo "run-bench: making $mp3" >&2
  if command -v lame >/dev/null; then
    lame --quiet -b 192 "$song" "$mp3.part"
  else
    ffmpeg -v error -y -i "$song" -c:a libmp3lame -b:a 192k -f mp3 "$mp3.part"
  fi
  mv "$mp3.part" "$mp3"
fi

source bench/common.sh
min2() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    an = (a ~ /^[0-9.]+$/); bn = (b ~ /^[0-9.]+$/)
    if (an && bn) print (a + 0 < b + 0 ? a : b); else if (an) print a; else if (bn) print b; else print "-" }'
}

pan='pan=stereo|c0=0.5*c1-0.5*c0|c1=0.5*c1-0.5*c0'
rows=()
for in in "$song" "$mp3"; do
  kind=${in##*.}
  kind=${kind^^}
  if [[ -x "$cli" ]]; then
    a=$(best_of "$cli" render "$in" "$out/cli.wav" --remover --loudness off)
    rm -rf "$out/cache"
    al=$(XDG_CACHE_HOME=$PWD/$out/cache best_of "$cli" render "$in" "$out/cli.wav" --remover)
    rm -rf "$out/cache"
  else
    a="n/a"
    al="n/a"
  fi
  b=$(best_of sox "$in" "$out/sox.wav" oops)
  c=$(best_of ffmpeg -v error -y -i "$in" -af "$pan" "$out/ffmpeg.wav")
  d="-"
  [[ "$kind" == MP3 ]] && d=$(best_of mpg123 -q -w "$out/mpg123.wav" "$in")
  rows+=("$(printf '%-4s %12s %10s %10s %12s %14s %16s %12s' "$kind" "$a" "$al" "$b" "$c" "$d" \
    "$(ratio "$a" "$(min2 "$b" "$c")")" "$(ratio "$a" "$d")")")
done
rm -f "$out/cli.wav" "$out/sox.wav" "$out/ffmpeg.wav" "$out/mpg123.wav"

{
  echo "orivelR offline renderer against its peers, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
  echo "input: 3 min, 44.1 kHz stereo; wall-clock seconds, best of $runs" \
    "($(command -v hyperfine >/dev/null && echo hyperfine || echo 'date loop'))"
  echo "(a) orivelR-cli render --remover --loudness off  (a+) the same, loudness on (cached)"
  echo "(b) sox oops  (c) ffmpeg pan L-R  (d) mpg123 decode only"
  echo
  printf '%-4s %12s %10s %10s %12s %14s %16s %12s\n' in "(a) orivelR" "(a+)" "(b) sox" \
    "(c) ffmpeg" "(d) mpg123" "(a)/min(b,c)" "(a)/(d)"
  printf '%s\n' "${rows[@]}"
  [[ -x "$cli" ]] || echo "($cli is not built: cmake --build $build)"
} | tee "$results"

if [[ -x "$build/bench/bench_chain" ]]; then
  echo | tee -a "$results"
  echo "bench_chain:" | tee -a "$results"
  "$build/bench/bench_chain" 2>&1 | tee -a "$results"
fi

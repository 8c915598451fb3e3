#!/usr/bin/env bash
# The two vocal removers in one run: the side signal ((R-L)/2 on both channels) and centre
# extraction (audiolib/CentreExtractor), on a multitrack song made here from its stems:
#   lead   spoken lines (espeak-ng), high-passed at 150 Hz, in the centre
#   bass   a sine bass line (55-82 Hz, under the low cut), in the centre
#   left   plucked chords, hard left
#   right  a square-wave organ, hard right
#   half   a triangle-wave melody, panned half-way left (constant power: gains cos π/8, sin π/8)
# Quality (centre_tool quality): the accompaniment's scale-invariant SDR against the true
# accompaniment (the stems but the lead), the lead's level drop (the lead stem passed alone), the
# output channels' correlation, and the level change of the hard-left part, the half-left part and
# the bass. Speed: both methods over a 3-minute WAV of the song (centre_tool) beside ffmpeg's pan
# filter doing the side signal, best of 3 each; then bench_centre: the cost on the mixing thread
# as a share of one core and the added latency. Results: bench/out/centre.txt.
# BUILD_DIR selects the build folder (default build/).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${BUILD_DIR:-build}
out=bench/out
runs=3
mkdir -p "$out"
results=$out/centre.txt
tool=$build/bench/centre_tool
bench=$build/bench/bench_centre
for exe in "$tool" "$bench"; do
  [[ -x "$exe" ]] || { echo "run-centre-bench: build $exe first" >&2; exit 2; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
secs=30
# Every stem: 44.1 kHz stereo float, exactly $secs seconds, peak at -15 dBFS (the lead at -12).
fit() { sox -V1 -D "$1" -r 44100 -e floating-point -b 32 "$2" remix "$3" "$4" gain -n "$5" pad 0 "$secs" trim 0 "$secs"; }
# A part from a note list, "SECONDS:GENERATORS" per note (up to three generators: a chord),
# each note enveloped, the line repeated to the song's length.
part() {
  local name=$1 i=0 files=()
  shift
  for note in "$@"; do
    # shellcheck disable=SC2086  # the generators are words of sox's synth
    sox -q -r 44100 -c 3 -n "$tmp/$name-$i.wav" synth "${note%%:*}" ${note#*:} remix 1v0.33,2v0.33,3v0.33 \
      fade q 0.01 "${note%%:*}" 0.08
    files+=("$tmp/$name-$i.wav")
    i=$((i + 1))
  done
  sox -q "${files[@]}" "$tmp/$name-line.wav" repeat 40
}

echo "run-centre-bench: making the stems" >&2
espeak-ng -v en+f3 -s 150 -w "$tmp/voice.wav" \
  "Tonight the lights are low and the music plays on. Sing along with me, the words are on the \
screen. Every song has a story, and every singer has a voice. Take the microphone and hold it \
close. The band will follow you, the chorus comes again, and the night is long."
sox -q -D -v 0.5 "$tmp/voice.wav" -r 44100 "$tmp/voice44.wav" highpass 150 highpass 150
fit "$tmp/voice44.wav" "$tmp/lead.wav" 1 1 -12
part bass "0.5:sine 55" "0.5:sine 55" "0.5:sine 82.4" "0.5:sine 73.4" "0.5:sine 61.7" \
  "0.5:sine 61.7" "0.5:sine 73.4" "0.5:sine 82.4"
sox -q "$tmp/bass-line.wav" "$tmp/bass-lp.wav" lowpass 100
fit "$tmp/bass-lp.wav" "$tmp/bass.wav" 1 1 -15
part left "1:pluck C4 pluck E4 pluck G4" "1:pluck A3 pluck C4 pluck E4" \
  "1:pluck F3 pluck A3 pluck C4" "1:pluck G3 pluck B3 pluck D4"
fit "$tmp/left-line.wav" "$tmp/left.wav" 1 0 -15
part right "2:square E4 square G4 square B4" "2:square C4 square E4 square G4"
sox -q "$tmp/right-line.wav" "$tmp/right-lp.wav" gain -6 lowpass 2500 tremolo 4 30
fit "$tmp/right-lp.wav" "$tmp/right.wav" 0 1 -15
part half "0.25:triangle E5" "0.25:triangle G5" "0.5:triangle A5" "0.25:triangle G5" \
  "0.25:triangle E5" "0.5:triangle D5" "0.5:triangle C5" "0.75:triangle G5"
fit "$tmp/half-line.wav" "$tmp/half.wav" 1v0.9239 1v0.3827 -15
sox -q -D -m -v 1 "$tmp/bass.wav" -v 1 "$tmp/left.wav" -v 1 "$tmp/right.wav" -v 1 "$tmp/half.wav" \
  "$tmp/acc.wav"
sox -q -D -m -v 1 "$tmp/acc.wav" -v 1 "$tmp/lead.wav" "$tmp/mix.wav"
sox -q -D "$tmp/mix.wav" "$tmp/mix.wav" "$tmp/mix.wav" "$tmp/mix.wav" "$tmp/mix.wav" "$tmp/mix.wav" \
  -b 16 "$tmp/song-3min.wav"

source bench/common.sh

quality=$("$tool" quality "$tmp/mix.wav" "$tmp/acc.wav" "$tmp/lead.wav" "$tmp/bass.wav" \
  "$tmp/left.wav" "$tmp/right.wav" "$tmp/half.wav")
centre=$(best_of "$tool" centre "$tmp/song-3min.wav" "$tmp/centre.wav")
side=$(best_of "$tool" side "$tmp/song-3min.wav" "$tmp/side.wav")
pan=$(best_of ffmpeg -v error -y -i "$tmp/song-3min.wav" \
  -af "pan=stereo|c0=0.5*c1-0.5*c0|c1=0.5*c1-0.5*c0" "$tmp/pan.wav")
cost=$("$bench" --benchmark_format=console 2>/dev/null)

{
  echo "== Vocal removers: side signal against centre extraction ($(date -u +%F))"
  echo "-- Quality on a ${secs} s multitrack (lead and bass centred, parts hard left, hard right,"
  echo "   half left). acc_sdr: accompaniment SI-SDR in dB; lead_db: the lead alone through the"
  echo "   method; corr: the output channels' correlation; *_db: level change of the part passed"
  echo "   alone / its least-squares gain in the mix's output. \"none\": the mix, nothing removed."
  echo "$quality"
  echo "-- Offline speed on 3 minutes of the song (best of $runs, seconds)"
  echo "centre_tool centre  $centre"
  echo "centre_tool side    $side"
  echo "ffmpeg pan (L-R)    $pan"
  echo "centre / ffmpeg pan $(ratio "$centre" "$pan")"
  echo "-- Mixing thread (core: share of one core per second of audio; latency_ms: added delay)"
  echo "$cost"
  # The counter prints seconds of CPU per second of audio with an SI prefix: as a percentage.
  echo "$cost" | awk '/^BM_/ { for (i = 1; i <= NF; ++i) if ($i ~ /^core=/) {
      v = substr($i, 6); sub(/s$/, "", v); u = substr(v, length(v)); n = v + 0
      f = (u == "m") ? 1e-3 : (u == "u") ? 1e-6 : (u == "n") ? 1e-9 : 1
      printf "%-32s %.3f %% of one core\n", $1, 100 * n * f } }' >"$tmp/core.txt"
  cat "$tmp/core.txt"
  echo "-- Against the targets"
  echo "$quality" | awk '
    $1 == "side" { side = $2 }
    $1 == "centre" {
      split($3, v, "/"); split($5, l, "/"); split($6, h, "/"); split($7, b, "/")
      check("acc_sdr gain over side >= 15 dB", $2 - side >= 15, $2 - side)
      check("lead alone <= -40 dB", v[1] + 0 <= -40, v[1])
      check("channel correlation < 0.9", $4 < 0.9, $4)
      check("hard-left part within 1 dB (alone, in mix)", l[1] >= -1 && l[2] >= -1, $5)
      check("half-left part within 1 dB (alone, in mix)", h[1] >= -1 && h[2] >= -1, $6)
      check("bass within 1 dB (alone, in mix)", b[1] >= -1 && b[2] >= -1, $7)
    }
    function check(what, ok, value) { printf "%-46s %-18s %s\n", what, value, ok ? "ok" : "MISSED" }'
  awk '/^BM_CentreExtraction/ { printf "%-46s %-18s %s\n", "mixing-thread cost < 10 % (" $1 ")", $2 " %",
      $2 < 10 ? "ok" : "MISSED" }' "$tmp/core.txt"
  echo "$cost" | awk '/^BM_CentreExtraction/ { for (i = 1; i <= NF; ++i) if ($i ~ /^latency_ms=/) {
      v = substr($i, 12) + 0
      printf "%-46s %-18s %s\n", "latency < 60 ms (" $1 ")", v " ms", v < 60 ? "ok" : "MISSED" } }'
} | tee "$results"

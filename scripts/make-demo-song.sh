#!/usr/bin/env bash
# Builds the demo song: a 30 s, 44.1 kHz stereo WAV whose accompaniment lives only on the sides
# (plucked chords on the left, a different chord in organ tones and a bass on the right) and
# whose "voice" (espeak-ng singing a few lines) sits in the centre, equal in both channels. With
# the vocal remover on, the voice goes and the band stays.
#
#   scripts/make-demo-song.sh OUT.wav
set -euo pipefail

out=${1:?usage: make-demo-song.sh OUT.wav}
for tool in sox espeak-ng; do
  command -v "$tool" >/dev/null || {
    echo "make-demo-song: $tool is missing (scripts/install-deps.sh)" >&2
    exit 1
  }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rate=44100
bar=3.75  # eight bars make the 30 s

# One bar of a chord: each tone on its own channel, then folded down to mono.
chord() {  # chord FILE TYPE NOTE...
  local file=$1 type=$2
  shift 2
  local synth=()
  for note in "$@"; do synth+=("$type" "$note"); done
  sox -q -r "$rate" -c "$#" -n "$file" synth "$bar" "${synth[@]}" remix - fade q 0.02 "$bar" 0.3
}

# Left: plucked triads of C - Am - F - G, twice. Right: the same roots a third higher in
# organ-like square tones with a bass, so that the two sides never cancel each other.
left_chords=("C4 E4 G4" "A3 C4 E4" "F3 A3 C4" "G3 B3 D4")
right_chords=("E4 G4 B4 C2" "C4 E4 A4 A1" "A3 C4 F4 F1" "B3 D4 G4 G1")
left_parts=() right_parts=()
for pass in 1 2; do
  for i in 0 1 2 3; do
    n=$(((pass - 1) * 4 + i))
    # shellcheck disable=SC2086  # the chord strings are meant to split into notes
    chord "$work/l$n.wav" pluck ${left_chords[i]}
    # shellcheck disable=SC2086
    chord "$work/r$n.wav" square ${right_chords[i]}
    left_parts+=("$work/l$n.wav") right_parts+=("$work/r$n.wav")
  done
done
sox -q "${left_parts[@]}" "$work/left.wav" gain -n -4
sox -q "${right_parts[@]}" "$work/right.wav" gain -12 lowpass 1800 gain -n -16
sox -q -M "$work/left.wav" "$work/right.wav" "$work/sides.wav"

# The voice: four sung-ish lines, one every two bars, at rising pitches.
lines=(
  "Sing along, sing along, the night is young"
  "Every word you know is waiting on your tongue"
  "Take the voice away and let the music play"
  "Now the stage is yours, so sing it your own way"
)
voices=()
for i in 0 1 2 3; do
  espeak-ng -v en+f3 -s 130 -p $((40 + 10 * i)) -w "$work/v$i.raw.wav" "${lines[i]}"
  start=$(awk -v b="$bar" -v i="$i" 'BEGIN { printf "%.2f", 0.5 + 2 * b * i }')
  sox -q "$work/v$i.raw.wav" -r "$rate" -c 1 "$work/v$i.wav" pad "$start" rate
  voices+=("$work/v$i.wav")
done
sox -q -m -v 1 "${voices[0]}" -v 1 "${voices[1]}" -v 1 "${voices[2]}" -v 1 "${voices[3]}" \
  "$work/voice.wav" gain -n -3 remix 1 1

# Centre and sides together (at half level, so the sum cannot clip before it is normalised),
# trimmed to the length of the band, 16-bit without dither so the centre stays equal in both
# channels, peak at -1 dBFS.
sox -q -D -m -v 0.5 "$work/sides.wav" -v 0.5 "$work/voice.wav" -b 16 "$work/song.wav" \
  trim 0 "$(awk -v b="$bar" 'BEGIN { print 8 * b }')" gain -n -1
mkdir -p "$(dirname "$out")"
mv "$work/song.wav" "$out"

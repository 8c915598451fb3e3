#!/usr/bin/env bash
# The CD ripper against its peers on one 60-minute BIN/CUE image of 44.1 kHz stereo 16-bit
# audio (a tone glide under pink noise, six 10-minute tracks): the whole disc ripped to WAV by
# orivelR-cli cd rip against cd-paranoia on the same image (-Z: an image needs none of
# paranoia's re-reads, and orivelR reads images with them off too), and to WMA at 128 kbit/s
# against ffmpeg encoding the same audio, each timed once in the same run. Prints the seconds and the
# ratios orivelR/peer. Build first (orivelR-cli); $BUILD_DIR names the build folder.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${BUILD_DIR:-build}
cli=$(realpath "$build/tools/orivelR-cli")
[[ -x "$cli" ]] || { echo "build first: $cli" >&2; exit 1; }
for tool in cd-paranoia ffmpeg sox; do
  command -v $tool >/dev/null || { echo "run-cd-bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tracks=6
minutes=10

# The disc: libcdio takes the data of disc.cue from disc.bin.
sox -q -r 44100 -c 2 -n -b 16 -e signed -L "$work/track.raw" synth $((minutes * 60)) \
  sine 200:2000 pinknoise remix 1v0.4,2v0.2 1v0.2,2v0.4 gain -3
cue="FILE \"disc.bin\" BINARY"$'\n'
: >"$work/disc.bin"
for t in $(seq 1 $tracks); do
  cat "$work/track.raw" >>"$work/disc.bin"
  cue+=$(printf '  TRACK %02d AUDIO\n    INDEX 01 %02d:00:00' "$t" $(((t - 1) * minutes)))$'\n'
done
printf '%s' "$cue" >"$work/disc.cue"
export ORIVELR_CD_IMAGES="$work/disc.cue"
drive=$("$cli" cd drives | awk -F'\t' '$2 ~ /^image: / {print $1; exit}')

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
all() { for t in $(seq 1 $tracks); do "$@" "$t"; done; }
ours_wav() { "$cli" cd rip "$drive" "$1" "$work/o$1.wav"; }
paranoia_wav() { cd-paranoia -q -Z -d "$work/disc.cue" -w "$1" "$work/p$1.wav"; }
ours_wma() { "$cli" cd rip "$drive" "$1" "$work/o$1.wma" --bitrate 128000; }
ffmpeg_wma() {
  ffmpeg -v error -y -f s16le -ar 44100 -ac 2 -i "$work/track.raw" -c:a wmav2 -b:a 128k \
    "$work/f$1.wma"
}

ow=$(seconds all ours_wav)
pw=$(seconds all paranoia_wav)
cmp -s <(tail -c +45 "$work/o1.wav") <(tail -c +45 "$work/p1.wav") || echo "run-cd-bench: WAV rips differ" >&2
om=$(seconds all ours_wma)
fm=$(seconds all ffmpeg_wma)
printf 'WAV, 60 min: orivelR %.2f s, cd-paranoia %.2f s, ratio %.2f\n' "$ow" "$pw" "$(echo "$ow / $pw" | bc -l)"
printf 'WMA 128k, 60 min: orivelR %.2f s, ffmpeg %.2f s, ratio %.2f\n' "$om" "$fm" "$(echo "$om / $fm" | bc -l)"

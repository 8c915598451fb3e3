#!/usr/bin/env bash
# The song's key, tempo and loudness against their peers, in one run:
#   (a) orivelR-cli render SONG OUT.wav --key 2 --loudness off   (Rubber Band R3, real-time mode,
#       short window: the window's settings)
#   (b) rubberband -3 -p 2 SONG OUT.wav                           (the same engine, offline mode)
#   (c) rubberband -3 --realtime -p 2 SONG OUT.wav                (the same engine, real-time mode)
#   (d) orivelR-cli render SONG OUT.wav --loudness off            (no key: the renderer's floor)
# on the 3-minute song of run-bench.sh (made there when missing), best of 3 each, with (a)/(b)
# and (a)/(c). Then the loudness: a loud and a quiet WAV, a MIDI song and a karaoke song made
# here are rendered with "Same loudness for every song" (on, as the window plays) and measured
# by ffmpeg's ebur128 filter: they must lie within 2 LU of each other. Last, the stretcher's
# cost on the mixing thread and its latency (bench_stretch). Results: bench/out/key-tempo.txt.
# BUILD_DIR selects the build folder (default build/).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${BUILD_DIR:-build}
out=bench/out
runs=3
mkdir -p "$out"
results=$out/key-tempo.txt
cli=$build/tools/orivelR-cli
song=$out/song-3min.wav
[[ -x "$cli" ]] || { echo "run-key-tempo-bench: build $cli first" >&2; exit 2; }
if [[ ! -f "$song" ]]; then
  BUILD_DIR=$build bench/run-bench.sh >/dev/null
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The measured runs keep the loudness cache of their own.
export XDG_CACHE_HOME=$tmp/cache

source bench/common.sh
lufs() {
  ffmpeg -nostats -hide_banner -i "$1" -af ebur128 -f null - 2>&1 |
    awk '/Summary:/ { s = 1 } s && $1 == "I:" { print $2; exit }'
}

a=$(best_of "$cli" render "$song" "$tmp/a.wav" --key 2 --loudness off)
b=$(best_of rubberband -3 -p 2 "$song" "$tmp/b.wav")
c=$(best_of rubberband -3 --realtime -p 2 "$song" "$tmp/c.wav")
d=$(best_of "$cli" render "$song" "$tmp/d.wav" --loudness off)

# Songs at very different levels: music-like noise and chords, loud and quiet; a MIDI song and
# a karaoke song (its words as lyric events) written with csvmidi.
sox -q -r 44100 -c 2 -n "$tmp/loud.wav" synth 30 pinknoise sine 220 remix 1v0.5,2v0.5 1v0.5,2v0.5 \
  tremolo 3 40 gain -n -0.5 compand 0.01,0.1 -60,-60,-30,-6,0,-3
# As quiet as the quietest songs measured (about -30 LUFS).
sox -q -r 44100 -c 2 -n "$tmp/quiet.wav" synth 30 pinknoise sine 330 remix 1v0.5,2v0.5 1v0.5,2v0.5 \
  tremolo 3 40 gain -n -23
midi_song() {  # $1: file, $2: with words
  {
    echo "0, 0, Header, 1, 2, 480"
    echo "1, 0, Start_track"
    echo "1, 0, Tempo, 500000"
    echo "1, 0, End_track"
    echo "2, 0, Start_track"
    echo "2, 0, Program_c, 0, 0"
    echo "2, 0, Program_c, 1, 48"
    local t=0 bar
    for bar in $(seq 0 59); do
      [[ "$2" == yes ]] && echo "2, $t, Lyric_t, \"la \""
      for n in 48 55 60 64 67; do echo "2, $t, Note_on_c, $((n < 60 ? 1 : 0)), $n, $((70 + bar % 5 * 10))"; done
      for n in 48 55 60 64 67; do echo "2, $((t + 470)), Note_off_c, $((n < 60 ? 1 : 0)), $n, 0"; done
      t=$((t + 480))
    done
    echo "2, $t, End_track"
    echo "0, 0, End_of_file"
  } | csvmidi > "$1"
}
midi_song "$tmp/song.mid" no
midi_song "$tmp/song.kar" yes
levels=()
for s in loud.wav quiet.wav song.mid song.kar; do
  "$cli" render "$tmp/$s" "$tmp/off-$s.wav" --loudness off >/dev/null 2>&1
  "$cli" render "$tmp/$s" "$tmp/on-$s.wav" >/dev/null 2>&1
  levels+=("$(printf '%-10s %10s %10s' "$s" "$(lufs "$tmp/off-$s.wav")" "$(lufs "$tmp/on-$s.wav")")")
done
spread=$(printf '%s\n' "${levels[@]}" | awk '{ v = $3 + 0; if (NR == 1 || v < lo) lo = v; if (NR == 1 || v > hi) hi = v }
  END { printf "%.1f", hi - lo }')

{
  echo "orivelR key, tempo and loudness against their peers, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
  echo "input: 3 min, 44.1 kHz stereo; wall-clock seconds, best of $runs"
  echo
  printf '%-44s %8s\n' "(a) orivelR-cli render --key 2" "$a"
  printf '%-44s %8s\n' "(b) rubberband -3 -p 2 (offline mode)" "$b"
  printf '%-44s %8s\n' "(c) rubberband -3 --realtime -p 2" "$c"
  printf '%-44s %8s\n' "(d) orivelR-cli render (no key)" "$d"
  echo "(a)/(b) $(ratio "$a" "$b")   (a)/(c) $(ratio "$a" "$c")   (a)/(d) $(ratio "$a" "$d")"
  echo
  echo "integrated loudness by ffmpeg ebur128, LUFS (target -16):"
  printf '%-10s %10s %10s\n' song "option off" "option on"
  printf '%s\n' "${levels[@]}"
  echo "spread with the option on: $spread LU (within 2 LU wanted)"
} | tee "$results"

if [[ -x "$build/bench/bench_stretch" ]]; then
  echo | tee -a "$results"
  echo "bench_stretch (core = share of one core per second of audio, latency_ms added):" |
    tee -a "$results"
  "$build/bench/bench_stretch" 2>&1 | tee -a "$results"
fi

#!/usr/bin/env bash
# The recorder on a private sound server, in one run:
#  - a "3 - Wave" take of a song of clicks (orivelR-cli karaoke): where each click lands in the
#    take against its place in the song;
#  - a "2 - Mic" take with a loopback of 40 ms from the speakers (kara_out's monitor) into the
#    microphone standing for the air: where the clicks land (the air's 40 ms expected);
#  - the CPU and memory of the main window recording over a WAV song with the remover on
#    (song, remover, recorder and meter together), of the same window only playing it, and of
#    the peers paplay + parecord doing the same playing and recording.
# Build first; $BUILD_DIR names the build folder, $RUNS the takes per kind (default 10).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${BUILD_DIR:-build}
runs=${RUNS:-10}
cli=$build/tools/orivelR-cli
win=$build/bench/bench_window_record
[[ -x "$cli" && -x "$win" ]] || { echo "build first: $cli, $win" >&2; exit 1; }
work=$(mktemp -d)
export ORIVELR_SOUND_STATE=$work/sound.state ORIVELR_HOME=$work QT_QPA_PLATFORM=offscreen
trap 'scripts/sound-server.sh stop >/dev/null; rm -rf "$work"' EXIT
scripts/sound-server.sh start >/dev/null
eval "$(scripts/sound-server.sh env)"
mkdir -p bench/out

# Clicks at 1, 2, 3 s over silence; a 60 s song of tones in the centre and on the sides.
sox -n -r 44100 -c 2 -b 16 "$work/clicks.wav" synth 0.002 square 1000 pad 1 0 : \
  synth 0.002 square 1000 pad 0.998 0 : synth 0.002 square 1000 pad 0.998 2
sox -n -r 44100 -c 2 -b 16 "$work/song.wav" synth 60 sine 440 sine 1000 gain -6

# Milliseconds from each click's place in the song to where it lands in TAKE.
click_errors() {
  python3 - "$1" <<'PY'
import sys, wave, struct
w = wave.open(sys.argv[1]); ch = w.getnchannels(); r = w.getframerate()
d = w.readframes(w.getnframes()); s = struct.unpack('<%dh' % (len(d) // 2), d)
at, last = [], -r
for i in range(0, len(s), ch):
    f = i // ch
    if abs(s[i]) > 0.3 * 32768 and f - last > r // 10:
        at.append(f); last = f
print(' '.join('%+.2f' % ((f - (k + 1) * r) * 1000.0 / r) for k, f in enumerate(at)))
PY
}

# The delay of the loopback module $1 as the server reports it: what waits in its source
# output and in its sink input, with the source's and the sink's own latency.
air_ms() {
  { pactl list source-outputs; pactl list sink-inputs; } | python3 -c '
import re, sys
module, total, mine = sys.argv[1], 0.0, False
for line in sys.stdin:
    m = re.match(r"\s*Owner Module: (\d+)", line)
    if m: mine = m.group(1) == module
    m = re.match(r"\s*(Buffer|Source|Sink) Latency: (\d+) usec", line)
    if m and mine: total += int(m.group(2)) / 1000.0
print("%.1f" % total)' "$1"
}

summary() {  # min median max of the numbers on stdin
  sort -g | awk '{ v[NR] = $1 } END { printf "min %+.2f  median %+.2f  max %+.2f ms (%d clicks)", v[1], v[int((NR + 1) / 2)], v[NR], NR }'
}

{
  echo "record bench $(date -u +%Y-%m-%dT%H:%M:%SZ), build $build, $runs takes per kind"
  for i in $(seq "$runs"); do
    "$cli" karaoke "$work/clicks.wav" "$work/take.wav" --source wave 2>/dev/null
    click_errors "$work/take.wav"
  done | tr ' ' '\n' | summary | sed 's/^/3 - Wave, click in take vs song: /'
  echo
  loop=$(pactl load-module module-loopback source=kara_out.monitor sink=mic_feed latency_msec=40 \
    source_dont_move=true sink_dont_move=true)
  sleep 1
  for i in $(seq "$runs"); do
    "$cli" karaoke "$work/clicks.wav" "$work/take.wav" --source mic 2>/dev/null
    click_errors "$work/take.wav"
  done | tr ' ' '\n' | summary | sed 's/^/2 - Mic through a 40 ms air, click in take vs song: /'
  echo
  echo "  the air as the server reports it now: $(air_ms "$loop") ms (its source output's and sink input's latencies)"
  pactl unload-module "$loop"

  echo "window recording (song + remover + recorder + meter): $("$win" "$work/song.wav" 10 2>/dev/null)"
  echo "window playing only (song + remover + meter):         $("$win" "$work/song.wav" 10 --play-only 2>/dev/null)"
  hz=$(getconf CLK_TCK)
  paplay "$work/song.wav" & play=$!
  parecord -d kara_mic --rate=44100 --channels=2 --format=s16le --file-format=wav "$work/peer.wav" & rec=$!
  sleep 1
  t0=$(( $(awk '{print $14 + $15}' "/proc/$play/stat") + $(awk '{print $14 + $15}' "/proc/$rec/stat") ))
  sleep 10
  t1=$(( $(awk '{print $14 + $15}' "/proc/$play/stat") + $(awk '{print $14 + $15}' "/proc/$rec/stat") ))
  rss=$(( $(awk '/VmRSS/ {print $2}' "/proc/$play/status") + $(awk '/VmRSS/ {print $2}' "/proc/$rec/status") ))
  kill -INT "$rec" "$play"; wait "$rec" "$play" 2>/dev/null || true
  echo "peers paplay + parecord:                              cpu $(awk -v a="$t0" -v b="$t1" -v hz="$hz" \
    'BEGIN { printf "%.2f", 100 * (b - a) / hz / 10 }') % of one core over 10 s, resident $rss KiB"
} | tee bench/out/record.txt

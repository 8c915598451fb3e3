#!/usr/bin/env bash
# Opening a long MP3 while a song plays through the real sound server: how long the
# BASS_StreamCreateFile call takes, the longest a position call (the main window's timer)
# waits meanwhile, when the stream's length becomes exact, and the output's underflows over
# the run (must be 0). The hour of MP3 is made once with sox and lame and kept in
# ${TMPDIR:-/tmp}/orivelR-open-bench/.
#
#   bench/run-open-bench.sh [--runs N]
#
# Writes bench/out/open-bench.txt. Build first (open_stream); $BUILD_DIR names the build folder
# (default build). Needs a sound server (scripts/sound-server.sh start, then its env).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
runs=3
case "${1:-}" in
  --runs) runs=${2:?}; [[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [--runs N]" >&2; exit 2; } ;;
  '') ;;
  *) echo "usage: $0 [--runs N]" >&2; exit 2 ;;
esac
build=${BUILD_DIR:-build}
[[ -x "$build/bench/open_stream" ]] || { echo "build first: $build/bench/open_stream" >&2; exit 1; }
for tool in sox lame; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
dir=${TMPDIR:-/tmp}/orivelR-open-bench
mkdir -p "$dir" bench/out
if [[ ! -s "$dir/hour.mp3" ]]; then
  echo "making an hour of MP3 (once)..." >&2
  sox -n -r 44100 -c 2 -b 16 -t wav - synth 3600 sine 440 vol 0.3 |
    lame --quiet -b 128 - "$dir/hour.mp3.part"
  mv "$dir/hour.mp3.part" "$dir/hour.mp3"
fi
[[ -s "$dir/song.wav" ]] || sox -n -r 44100 -c 2 -b 16 "$dir/song.wav" synth 60 sine 1000 vol 0.3
{
  echo "# $(date -u +%FT%TZ) open_stream: an hour of MP3 ($(du -hL "$dir/hour.mp3" | cut -f1)) opened while a song plays"
  "$build/bench/open_stream" "$dir/song.wav" "$dir/hour.mp3" --runs "$runs"
} | tee bench/out/open-bench.txt

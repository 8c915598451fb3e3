#!/usr/bin/env bash
# The MIDI player's figures on the render-on-demand device: render speed of a 16-channel song,
# lyric lighting against the notes at three tempos, the scanner on a 1 MB song. The play-to-
# first-note time is measured in the windows' benchmark (bench/run-window-bench.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${BUILD_DIR:-build}
[[ -x "$build/bench/bench_midi" ]] || { echo "build first: $build/bench/bench_midi" >&2; exit 1; }
mkdir -p bench/out
"$build/bench/bench_midi" 2>/dev/null | tee bench/out/midi.txt

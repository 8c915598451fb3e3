#!/usr/bin/env bash
# Times the windows (start-up, memory, the remover's reaction) under Xvfb with the private
# sound server. Build first (./test.sh or cmake --build build).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${BUILD_DIR:-build}
[[ -x "$build/bench/bench_window" ]] || { echo "build first: $build/bench/bench_window" >&2; exit 1; }
work=$(mktemp -d)
export ORIVELR_SOUND_STATE=$work/sound.state ORIVELR_HOME=$work
trap 'scripts/sound-server.sh stop >/dev/null; rm -rf "$work"' EXIT
scripts/sound-server.sh start >/dev/null
eval "$(scripts/sound-server.sh env)"
scripts/make-demo-song.sh "$work/DEMO.wav" >/dev/null
mkdir -p bench/out
for run in 1 2 3; do
  echo "run $run"
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/bench/bench_window" "$work/DEMO.wav"
done | tee bench/out/window.txt

#!/usr/bin/env bash
# Saves pictures of the windows for the documentation: starts orivelR under Xvfb with the
# private sound server, saves the warning window, accepts it, plays the demo song with the
# vocal remover on and saves the main window, then plays a karaoke song and saves it again.
# Writes docs/Form2.png, docs/frmMain.png and docs/frmMain-karaoke.png.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${BUILD_DIR:-build}
out=${1:-docs}
mkdir -p "$out"
[[ -x "$build/app/orivelR" ]] || { echo "screenshot: build first (./test.sh or ./run.sh)" >&2; exit 1; }

work=$(mktemp -d)
export ORIVELR_SOUND_STATE=$work/sound.state
trap 'scripts/sound-server.sh stop >/dev/null; rm -rf "$work"' EXIT
scripts/sound-server.sh start >/dev/null
eval "$(scripts/sound-server.sh env)"

scripts/make-demo-song.sh "$work/DEMO.wav" >/dev/null
kar=$work/DEMO.kar
scripts/make-demo-karaoke.sh "$kar"
ORIVELR_SCREENSHOT_KAR=$kar ORIVELR_HOME=$work ORIVELR_SCREENSHOTS=$(realpath "$out") ORIVELR_SCREENSHOT_SONG=$work/DEMO.wav \
  timeout 60 xvfb-run -a -s "-screen 0 1280x800x24" "$build/app/orivelR"

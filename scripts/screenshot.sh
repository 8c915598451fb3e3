#!/usr/bin/env bash
# Saves pictures of the windows for the documentation: starts orivelR under Xvfb with the
# private sound server, saves the warning window, accepts it, plays the demo song with the
# vocal remover on and saves the main window, plays a karaoke song and saves it again, records
# a take over it, then opens the CD window on a CD image made here, the converter and the help.
# Writes docs/Form2.png, docs/frmMain.png, docs/frmMain-karaoke.png, docs/frmMain-recording.png,
# docs/frmDemo.png, docs/Form1.png and docs/formp3.png (another folder: screenshot.sh DIR).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${BUILD_DIR:-build}
out=${1:-docs}
mkdir -p "$out"
[[ -x "$build/app/orivelR" ]] || { echo "screenshot: build first (./test.sh or ./run.sh)" >&2; exit 1; }

work=$(mktemp -d)
export ORIVELR_SOUND_STATE=$work/sound.state
voice=
trap '[[ -z $voice ]] || kill "$voice" 2>/dev/null; scripts/sound-server.sh stop >/dev/null; rm -rf "$work"' EXIT
scripts/sound-server.sh start >/dev/null
eval "$(scripts/sound-server.sh env)"

scripts/make-demo-song.sh "$work/DEMO.wav" >/dev/null
kar=$work/DEMO.kar
scripts/make-demo-karaoke.sh "$kar"

# A CD image of three tracks: the demo song and two chords, with CD-TEXT.
raw=(-t raw -r 44100 -c 2 -b 16 -e signed -L)
sox "$work/DEMO.wav" "${raw[@]}" "$work/disc.bin" trim 0 30
sox -q -n "${raw[@]}" - synth 20 pluck C4 pluck G4 vol 0.5 >>"$work/disc.bin"
sox -q -n "${raw[@]}" - synth 12 sine A3 sine E4 vol 0.3 fade 0.1 12 1 >>"$work/disc.bin"
cat >"$work/disc.cue" <<'CUE'
PERFORMER "Orchestra orivelR"
TITLE "Serata di prova"
FILE "disc.bin" BINARY
  TRACK 01 AUDIO
    PERFORMER "Coro orivelR"
    TITLE "Canzone dimostrativa"
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    PERFORMER "Orchestra orivelR"
    TITLE "Accordo di do"
    INDEX 01 00:30:00
  TRACK 03 AUDIO
    PERFORMER "Orchestra orivelR"
    TITLE "Accordo di la minore"
    INDEX 01 00:50:00
CUE
export ORIVELR_CD_IMAGES=$work/disc.cue

# A "voice" on the virtual microphone, so that the meters move.
paplay -d mic_feed "$work/DEMO.wav" &
voice=$!

ORIVELR_SCREENSHOT_KAR=$kar ORIVELR_HOME=$work ORIVELR_SCREENSHOTS=$(realpath "$out") ORIVELR_SCREENSHOT_SONG=$work/DEMO.wav \
  timeout 90 xvfb-run -a -s "-screen 0 1280x800x24" "$build/app/orivelR"

#!/usr/bin/env bash
# Sets everything up and starts orivelR: installs what is missing, builds (in $BUILD_DIR,
# default build/), makes a demo song in the work folder, then starts the window program. On a
# machine without a display it plays the demo song through the offline renderer with the vocal
# remover on, to the default output. Arguments go to the window program.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

build=${BUILD_DIR:-build}

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

# The work folder, as the program itself chooses it.
home=${ORIVELR_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/orivelR}
mkdir -p "$home"

# A machine with neither a sound server nor a sound card (a container, a server) still gets
# something to play into: the private server of the tests. Its output can be recorded with
# `parecord -d kara_out.monitor` in the environment of `scripts/sound-server.sh env`.
no_sound_here() {
  pactl info >/dev/null 2>&1 && return 1
  [[ -r /proc/asound/cards ]] && ! grep -q 'no soundcards' /proc/asound/cards && return 1
  return 0
}
if no_sound_here; then
  echo "run.sh: no sound server or sound card here; playing into the private sound server" >&2
  export ORIVELR_SOUND_STATE=${ORIVELR_SOUND_STATE:-$home/sound-server.state}
  trap 'scripts/sound-server.sh stop' EXIT
  scripts/sound-server.sh start
  eval "$(scripts/sound-server.sh env)"
fi

demo=$home/DEMO.wav
if [[ ! -f "$demo" ]]; then
  echo "run.sh: making the demo song $demo" >&2
  scripts/make-demo-song.sh "$demo"
fi

status=0
if [[ -x "$build/app/orivelR" && ( -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ) ]]; then
  echo "run.sh: a song to try: $demo (File > Open Wave Mp3 File)" >&2
  "$build/app/orivelR" "$@" || status=$?
else
  [[ -x "$build/app/orivelR" ]] && echo "run.sh: no display here; playing the demo without the window" >&2
  echo "run.sh: playing $demo with the vocal remover on" >&2
  "$build/tools/orivelR-cli" render "$demo" --remover --play || status=$?
fi
exit "$status"

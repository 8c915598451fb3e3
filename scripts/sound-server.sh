#!/usr/bin/env bash
# The private PulseAudio server that the sound tests, benchmarks and a machine without a sound
# card play through: a null sink "kara_out" (default output; its monitor is what tests record),
# a mono null sink "mic_feed" whose monitor becomes the virtual microphone "kara_mic" (default
# input; tests play a "voice" into mic_feed), and loopbacks of silence that keep both sinks
# running so that new streams do not stall.
#
#   scripts/sound-server.sh start          start it (stopping one left from an earlier start)
#   scripts/sound-server.sh stop           stop it and remove its runtime folder
#   scripts/sound-server.sh status         exit 0 when it answers
#   eval "$(scripts/sound-server.sh env)"  export what clients need to reach it
#
# The runtime folder of the running server is recorded in $ORIVELR_SOUND_STATE (a file).
set -euo pipefail

state=${ORIVELR_SOUND_STATE:-/tmp/orivelR-sound}
start_timeout=${ORIVELR_SOUND_TIMEOUT:-20}  # seconds to wait for the server to answer

die() {
  echo "sound-server: $*" >&2
  exit 1
}

recorded_dir() {
  [[ -f "$state" ]] || return 1
  local dir
  dir=$(<"$state")
  [[ -n "$dir" && -d "$dir" ]] || return 1
  printf '%s\n' "$dir"
}

# Runs a client command against the server whose runtime folder is $1.
with_server() {
  local dir=$1
  shift
  XDG_RUNTIME_DIR="$dir" PULSE_SERVER="unix:$dir/pulse/native" "$@"
}

answers() {
  with_server "$1" timeout 5 pactl info >/dev/null 2>&1
}

stop_server() {
  local dir
  dir=$(recorded_dir) || {
    rm -f "$state"
    return 0
  }
  if answers "$dir"; then
    with_server "$dir" pulseaudio -k >/dev/null 2>&1 || true
    # pulseaudio -k only asks; wait until the daemon has really gone.
    # The daemon may remove its pid file at any moment now: a missing one is no error.
    local pid
    pid=$(cat "$dir/pulse/pid" 2>/dev/null || true)
    for _ in $(seq 50); do
      if [[ -n "$pid" ]]; then
        kill -0 "$pid" 2>/dev/null || break
      else
        answers "$dir" || break
      fi
      sleep 0.1
    done
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
    fi
  fi
  rm -rf "$dir"
  rm -f "$state"
}

start_server() {
  command -v pulseaudio >/dev/null || die "pulseaudio is not installed (scripts/install-deps.sh)"
  command -v pactl >/dev/null || die "pactl is not installed (scripts/install-deps.sh)"
  stop_server

  local dir
  dir=$(mktemp -d "${TMPDIR:-/tmp}/orivelR-pulse.XXXXXX")
  chmod 700 "$dir"
  mkdir -p "$(dirname "$state")"
  printf '%s\n' "$dir" >"$state"

  # HOME is pointed into the runtime folder too: as root, PulseAudio would otherwise write its
  # cookie and state into /root/.config/pulse and warn about running in the root's session.
  local log="$dir/pulseaudio.log"
  if ! XDG_RUNTIME_DIR="$dir" HOME="$dir" XDG_CONFIG_HOME="$dir/config" \
    pulseaudio -D -n --system=false --exit-idle-time=-1 --disallow-exit=false \
    --log-target="file:$log" \
    -L module-native-protocol-unix \
    -L "module-null-sink sink_name=kara_out rate=44100 channels=2 norewinds=1 sink_properties=device.description=KaraOut" \
    -L "module-null-sink sink_name=mic_feed rate=44100 channels=1 norewinds=1 sink_properties=device.description=MicFeed" \
    -L "module-remap-source master=mic_feed.monitor source_name=kara_mic source_properties=device.description=KaraMic" \
    -L "module-null-source source_name=silence description=Silence rate=44100 channels=2" \
    -L "module-loopback source=silence sink=kara_out latency_msec=20 source_dont_move=true sink_dont_move=true" \
    -L "module-loopback source=silence sink=mic_feed latency_msec=20 source_dont_move=true sink_dont_move=true"; then
    cat "$log" >&2 2>/dev/null || true
    stop_server
    die "pulseaudio did not start"
  fi

  local waited=0
  until answers "$dir"; do
    if ((waited >= start_timeout * 10)); then
      cat "$log" >&2 2>/dev/null || true
      stop_server
      die "pulseaudio did not answer within ${start_timeout} s"
    fi
    sleep 0.1
    waited=$((waited + 1))
  done

  with_server "$dir" pactl set-default-sink kara_out
  with_server "$dir" pactl set-default-source kara_mic
  # Idle null sinks stall the first new streams unless they have been running for a while.
  sleep 2.1

  local sinks
  sinks=$(with_server "$dir" pactl list short sinks)
  grep -q kara_out <<<"$sinks" || die "sink kara_out is missing"
  grep -q kara_mic <<<"$(with_server "$dir" pactl list short sources)" || die "source kara_mic is missing"
  echo "sound-server: running in $dir" >&2
}

print_env() {
  local dir
  dir=$(recorded_dir) || die "not running (scripts/sound-server.sh start)"
  printf 'export XDG_RUNTIME_DIR=%q\n' "$dir"
  printf 'export PULSE_SERVER=%q\n' "unix:$dir/pulse/native"
  printf 'export SDL_AUDIODRIVER=pulseaudio\n'
}

case "${1:-}" in
  start) start_server ;;
  stop) stop_server ;;
  env) print_env ;;
  status)
    dir=$(recorded_dir) || exit 1
    answers "$dir"
    ;;
  *)
    echo "usage: $0 start|stop|env|status" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# Dropouts through the real sound server. Plays a 1 kHz tone (L = sine, R = -sine: what the
# vocal remover keeps, as a sine on both channels) with each player, records the monitor of the
# private server's sink around it and counts the gaps in the recording with gap_count. The
# players: the command line player with the remover (and again with the key two semitones up
# at 90 % tempo, and with the centre-extraction remover), the main window with the remover
# (bench_window_play, off screen) and paplay as the reference that must show none.
#
#   bench/run-gap-bench.sh --runs 3 --seconds 6        a quick look, idle machine
#   bench/run-gap-bench.sh --runs 20 --seconds 30 --load   the full measurement, with
#                                                       stress-ng --cpu 2 running throughout
#
# Options: --runs N (default 5), --seconds S (default 6), --load, --only cli|clikey|clicentre|window|paplay.
# Prints one line per run and a summary per player, and writes them to bench/out/gap-bench.txt;
# --keep keeps every recording (bench/out/gap-rec/). Build first (gap_count, bench_window_play
# and orivelR-cli); $BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

runs=5
seconds=6
load=false
only=
keep=false
usage() {
  echo "usage: $0 [--runs N] [--seconds S] [--load] [--only cli|clikey|clicentre|window|paplay] [--keep]" >&2
  exit 2
}
while (($#)); do
  case "$1" in
    --runs) runs=${2:-}; shift 2 || usage ;;
    --seconds) seconds=${2:-}; shift 2 || usage ;;
    --load) load=true; shift ;;
    --only) only=${2:-}; shift 2 || usage ;;
    --keep) keep=true; shift ;;
    *) usage ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ && "$seconds" =~ ^[1-9][0-9]*$ ]] || usage
case "$only" in '' | cli | clikey | clicentre | window | paplay) ;; *) usage ;; esac
players=(cli clikey clicentre window paplay)
[[ -n "$only" ]] && players=("$only")

build=${BUILD_DIR:-build}
need=("$build/bench/gap_count")
for p in "${players[@]}"; do
  case "$p" in
    cli | clikey | clicentre) need+=("$build/tools/orivelR-cli") ;;
    window) need+=("$build/bench/bench_window_play") ;;
  esac
done
for exe in "${need[@]}"; do
  [[ -x "$exe" ]] || { echo "build first: $exe" >&2; exit 1; }
done
for tool in sox parecord pactl paplay; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
if $load; then
  command -v stress-ng >/dev/null || { echo "stress-ng is missing (scripts/install-deps.sh)" >&2; exit 1; }
fi

out=$PWD/bench/out
mkdir -p "$out/gap-home"
tone=$out/gap-tone.wav
rec=$out/gap-rec
report=$out/gap-bench.txt
mkdir -p "$rec"
rate=44100
tail_frames=$((rate / 2))  # recorded after the player has ended, beyond the tone's last frame

recorder=
stress=
cleanup() {
  [[ -n "$recorder" ]] && kill -INT "$recorder" 2>/dev/null && wait "$recorder" 2>/dev/null
  [[ -n "$stress" ]] && kill -TERM "$stress" 2>/dev/null && wait "$stress" 2>/dev/null
  scripts/sound-server.sh stop >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export ORIVELR_SOUND_STATE=$out/gap-sound.state ORIVELR_HOME=$out/gap-home
scripts/sound-server.sh start 2>/dev/null
eval "$(scripts/sound-server.sh env)"
pactl set-sink-volume @DEFAULT_SINK@ 100%

# Faded in and out over 20 ms: a hard edge makes a stretcher ring for a moment (the song moved in
# key), which is the edge of the tone and no dropout.
sox -n -r "$rate" -b 16 -c 2 "$tone" synth "$seconds" sine 1000 vol 0.5 remix 1 1v-1 fade 0.02 -0 0.02

: >"$report"
say() {
  printf '%s\n' "$*"
  printf '%s\n' "$*" >>"$report"
}
say "gap bench $(date -u +%Y-%m-%dT%H:%M:%SZ): $runs runs of a ${seconds} s tone, load $($load && echo 'stress-ng --cpu 2' || echo none), build $build"

if $load; then
  stress-ng --cpu 2 --quiet >/dev/null 2>&1 &
  stress=$!
  sleep 1
fi

# The command that plays the tone with player $1 to its end.
player_command() {
  case "$1" in
    cli) command=("$build/tools/orivelR-cli" render "$tone" --play --remover) ;;
    # The same with the song's key and tempo moved: the stretcher on the mixing thread.
    clikey) command=("$build/tools/orivelR-cli" render "$tone" --play --remover --key 2 --tempo 90) ;;
    # And with the remover that keeps the band (the tone is all side: it stays).
    clicentre) command=("$build/tools/orivelR-cli" render "$tone" --play --remover --remover-method centre) ;;
    window) command=(env QT_QPA_PLATFORM=offscreen "$build/bench/bench_window_play" "$tone" --remover) ;;
    paplay) command=(paplay "$tone") ;;
  esac
}

bytes() { stat -c %s "$1" 2>/dev/null || echo 0; }

source_outputs() { pactl list short source-outputs | cut -f1 | sort; }

# Starts parecord on the sink's monitor into $1 and returns once the server lists its stream.
start_recorder() {
  local before
  before=$(source_outputs)
  parecord -d kara_out.monitor --rate="$rate" --channels=2 --format=float32le \
    --file-format=wav "$1" &
  recorder=$!
  for _ in $(seq 200); do
    kill -0 "$recorder" 2>/dev/null || { recorder=; echo "parecord ended" >&2; return 1; }
    [[ -n "$(comm -13 <(printf '%s\n' "$before") <(source_outputs))" ]] && return 0
    sleep 0.05
  done
  echo "parecord's stream did not appear" >&2
  return 1
}

# Stops the recorder once the file holds $2 bytes (the tone's end and the tail), or after 10 s.
stop_recorder() {
  local file=$1 want=$2
  for _ in $(seq 200); do
    (($(bytes "$file") >= want)) && break
    sleep 0.05
  done
  kill -INT "$recorder" 2>/dev/null || true
  wait "$recorder" 2>/dev/null || true
  recorder=
}

summaries=()
for p in "${players[@]}"; do
  with_gaps=0 gaps_sum=0 ms_sum=0 failed=0
  log=$out/gap-$p.log
  : >"$log"
  for ((run = 1; run <= runs; ++run)); do
    file=$rec/$p-$run.wav
    rm -f "$file"
    start_recorder "$file"
    status=0
    player_command "$p"
    timeout $((seconds + 60)) "${command[@]}" >>"$log" 2>&1 || status=$?
    stop_recorder "$file" $(($(bytes "$file") + tail_frames * 8))
    if ((status != 0)); then
      say "$(printf '%-7s run %2d/%d  the player failed (status %d, see %s)' "$p" "$run" "$runs" "$status" "$log")"
      failed=$((failed + 1))
      continue
    fi
    if ! line=$("$build/bench/gap_count" "$file" 2>>"$log"); then
      say "$(printf '%-7s run %2d/%d  nothing heard (see %s)' "$p" "$run" "$runs" "$log")"
      failed=$((failed + 1))
      continue
    fi
    say "$(printf '%-7s run %2d/%d  %s' "$p" "$run" "$runs" "$line")"
    read -r _ n _ ms _ <<<"$line"
    if ((n > 0)); then with_gaps=$((with_gaps + 1)); fi
    gaps_sum=$((gaps_sum + n))
    ms_sum=$(awk -v a="$ms_sum" -v b="$ms" 'BEGIN { printf "%.1f", a + b }')
    if ! $keep; then rm -f "$file"; fi
  done
  summary=$(printf '%-7s runs with gaps %d/%d, gaps %d, total gap %s ms' "$p" "$with_gaps" \
    "$((runs - failed))" "$gaps_sum" "$ms_sum")
  if ((failed)); then summary+=", $failed runs failed"; fi
  summaries+=("$summary")
done
say "summary"
for s in "${summaries[@]}"; do say "  $s"; done

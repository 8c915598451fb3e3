#!/usr/bin/env bash
# Writes a short karaoke song (.kar) with Italian words in Windows-1252, for trying the MIDI
# player and for the pictures of the documentation: scripts/make-demo-karaoke.sh OUT.kar
set -euo pipefail
out=${1:?usage: make-demo-karaoke.sh OUT.kar}
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
{
  echo '0, 0, Header, 1, 3, 480'
  echo '1, 0, Start_track'; echo '1, 0, Tempo, 500000'; echo '1, 0, End_track'
  echo '2, 0, Start_track'; echo '2, 0, Title_t, "Words"'
  echo '2, 0, Text_t, "@TDemo di orivelR"'
  tick=240
  for s in '/Can' 'ta ' 'con ' 'me ' 'sta' 'se' 'ra' '/e ' 'la ' 'lu' 'na ' 'ci ' 'gui' 'de' 'rà'; do
    echo "2, $tick, Text_t, \"$s\""; tick=$((tick + 240))
  done
  echo "2, $tick, End_track"
  echo '3, 0, Start_track'; echo '3, 0, Program_c, 0, 80'
  tick=240
  for k in 60 62 64 65 67 69 71 72 71 69 67 65 64 62 60; do
    echo "3, $tick, Note_on_c, 0, $k, 100"; echo "3, $tick, Note_on_c, 9, 42, 90"
    echo "3, $((tick + 100)), Note_off_c, 9, 42, 0"; echo "3, $((tick + 200)), Note_off_c, 0, $k, 0"
    tick=$((tick + 240))
  done
  echo "3, $((tick + 480)), End_track"
  echo '0, 0, End_of_file'
} | iconv -f utf-8 -t cp1252 > "$csv"
csvmidi "$csv" "$out"

#!/usr/bin/env bash
# Installs every Debian package orivelR needs to build, test and run. This is the only place
# where packages are named. It asks apt only when something is missing, so a second run is a
# quick no-op and works without the network.
set -euo pipefail

packages=(
  # Build tools
  cmake ninja-build ccache g++ pkg-config git
  # Engine libraries: devices, WAV and other sound files, MP3, modules, resampling
  libsdl2-dev libsndfile1-dev libmpg123-dev libopenmpt-dev libsoxr-dev
  # User interface: Qt 6 Widgets, the Designer plug-in interface, OpenGL headers Qt's CMake wants
  # (Qt6Designer's CMake package depends on Qt6OpenGL, whose config Debian ships apart)
  qt6-base-dev qt6-tools-dev libgl-dev libqt6opengl6-dev
  # Later subsystems: MIDI synthesis and its GM sound font, MP3 encoding, CD reading and ripping,
  # WMA encoding and its tags, the system mixer (PulseAudio, ALSA as fall-back)
  libfluidsynth-dev timgm6mb-soundfont libmp3lame-dev libcdio-dev libcdio-paranoia-dev
  libavformat-dev libavcodec-dev libtag1-dev libpulse-dev libasound2-dev
  # Added features: key and tempo of audio songs (Rubber Band), loudness of songs (EBU R128)
  librubberband-dev libebur128-dev
  # The remover that keeps the band (FFT), MP3+G zips, the singer's pitch
  libfftw3-dev libarchive-dev libaubio-dev
  # Tests and benchmarks: GoogleTest, Google Benchmark, independent tools to make and check
  # sound, MIDI and CD files, a speaking voice, the private sound server, a virtual X display,
  # a timer for whole programs, a delay line the sound server can load (the latency probe's test)
  libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-14-dev
  sox libsox-fmt-mp3 ffmpeg mpg123 lame midicsv rubberband-cli libcdio-utils cd-paranoia cdrdao espeak-ng desktop-file-utils appstream
  pulseaudio pulseaudio-utils swh-plugins xvfb xauth hyperfine stress-ng
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [[ "$status" == installed ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#packages[@]} packages are installed"
  exit 0
fi

echo "install-deps: installing ${#missing[@]} missing packages: ${missing[*]}"

as_root=()
if ((EUID != 0)); then
  if command -v sudo >/dev/null; then
    as_root=(sudo)
  else
    echo "install-deps: not root and no sudo; install these as root: ${missing[*]}" >&2
    exit 1
  fi
fi

# Another apt run (a colleague's, unattended upgrades) may hold the lock for a while: wait for it.
apt_opts=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" -q update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" -q install -y \
  --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: installs the packages, configures and builds
# (in $BUILD_DIR, default build/), starts the private sound server for the "sound" tests, and
# runs CTest. Arguments go to ctest, e.g. `./test.sh -LE "slow|sound"` for the fast set or
# `./test.sh -R Remover` for some tests by name. Exits with ctest's status.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

build=${BUILD_DIR:-build}

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2

# One server per build folder, so that test runs in two build folders don't stop each other's.
mkdir -p "$build"
export ORIVELR_SOUND_STATE=${ORIVELR_SOUND_STATE:-$(realpath "$build")/sound-server.state}
# The exit status is ctest's: stopping the server afterwards never changes it.
trap 'scripts/sound-server.sh stop || echo "test.sh: the sound server did not stop cleanly" >&2' EXIT
scripts/sound-server.sh start
eval "$(scripts/sound-server.sh env)"

# Window tests draw off screen; nothing here needs a display.
export QT_QPA_PLATFORM=offscreen

status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 300 -j2 "$@" || status=$?
exit "$status"

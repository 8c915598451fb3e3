#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: installs the packages, configures and builds
# (in $BUILD_DIR, default build/), starts the private sound server for the "sound" tests, and
# runs CTest. Arguments go to ctest, e.g. `./test.sh -LE "slow|sound"` for the fast set or
# `./test.sh -R Remover` for some tests by name. Exits with ctest's status.
#
# `./test.sh --sanitize [ctest args]` (or SANITIZE=address,undefined ./test.sh) builds into its
# own folder with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite there;
# SANITIZE=thread ./test.sh -R "Engine|Midi" runs ThreadSanitizer over the engine's tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

if [[ "${1:-}" == --sanitize ]]; then
  SANITIZE=${SANITIZE:-address,undefined}
  shift
fi
sanitize=${SANITIZE:-}
if [[ -n "$sanitize" ]]; then
  build=${BUILD_DIR:-build-sanitize-${sanitize//,/-}}
  supp=$(realpath tests/sanitizers)
  # Libraries' own leaks at exit (fonts, GLib's type system, the sound server's client) are
  # theirs; everything else ends the test.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0
  export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1
else
  build=${BUILD_DIR:-build}
fi

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORIVELR_SANITIZE="$sanitize"
# SANITIZE_TARGETS="a b" builds only those targets (a ThreadSanitizer run of the engine's tests).
# shellcheck disable=SC2086
cmake --build "$build" -j2 ${SANITIZE_TARGETS:+--target $SANITIZE_TARGETS}

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

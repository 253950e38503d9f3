#!/bin/sh
# Builds the sound tests with ThreadSanitizer (which cannot be mixed with the
# AddressSanitizer build) and runs them: the mixer thread, the stream
# decoding threads and the notice storm. Usage: tests/media/tsan.sh [build directory]
set -e
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${1:-$ROOT/build-tsan}
# Absolute, since the tests change directory and find the pacing plug-in by it.
mkdir -p "$OUT" && OUT=$(cd "$OUT" && pwd)
cmake -S "$ROOT" -B "$OUT" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -O1" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$OUT" -j3 --target test_media asound_module_pcm_qxpace
QX_BUILD_DIR="$OUT" TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$OUT/tests/media/test_media"

#!/bin/sh
# Builds the timer, wake-up pipe and cross-thread queue tests with
# ThreadSanitizer (which cannot be mixed with the AddressSanitizer build)
# and runs them. Usage: tests/platform/tsan.sh [build directory]
set -e
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${1:-$ROOT/build-tsan}
mkdir -p "$OUT"
SRC=$ROOT/src/platform
${CXX:-g++} -std=c++20 -g -O1 -fsanitize=thread -fno-omit-frame-pointer -Wall -Wextra \
    -I"$ROOT/src" \
    "$SRC/qx_sync.cpp" "$SRC/qx_memory.cpp" "$SRC/qx_wakepipe.cpp" "$SRC/qx_systimers.cpp" \
    "$SRC/qx_threadevents.cpp" "$SRC/qx_timerthread.cpp" "$SRC/qx_platform.cpp" \
    "$SRC/qx_libimports.cpp" "$ROOT/tests/platform/tsan/collate_stub.cpp" "$ROOT/tests/platform/timers_test.cpp" \
    -lgtest -lgtest_main -lpthread -ldl -o "$OUT/test_platform_tsan"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$OUT/test_platform_tsan"

# The runtime event queue with eight posting threads.
${CXX:-g++} -std=c++20 -g -O1 -fsanitize=thread -fno-omit-frame-pointer -Wall -Wextra \
    -I"$ROOT/src" \
    "$SRC/qx_sync.cpp" "$SRC/qx_memory.cpp" "$ROOT/src/display/qx_eventqueue.cpp" \
    "$ROOT/tests/display/tsan/queue_tsan.cpp" \
    -lgtest -lgtest_main -lpthread -o "$OUT/test_queue_tsan"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$OUT/test_queue_tsan"

# The input watch's thread against the script thread that arms it.
${CXX:-g++} -std=c++20 -g -O1 -fsanitize=thread -fno-omit-frame-pointer -Wall -Wextra \
    -I"$ROOT/src" \
    "$SRC/qx_sync.cpp" "$SRC/qx_memory.cpp" "$SRC/x11/x11_inputwatch.cpp" \
    "$ROOT/tests/platform/x11/tsan/inputwatch_stubs.cpp" "$ROOT/tests/platform/x11/inputwatch_test.cpp" \
    -lgtest -lgtest_main -lpthread -o "$OUT/test_inputwatch_tsan"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$OUT/test_inputwatch_tsan"

#!/bin/sh
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# whole suite through CTest, then each fuzz target for a bounded time.
set -e
cd "$(dirname "$0")"
QX_SETUP_TESTS=1
. scripts/setup.sh

# Includes must point down the layers.
python3 tools/layers/check_layers.py src

JOBS=$(nproc 2>/dev/null || echo 2)
BUILD=build-test
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON
fi
cmake --build "$BUILD" -j "$JOBS"

# Display tests run against a virtual X server of our own.
XVFB_PID=
if command -v Xvfb >/dev/null 2>&1; then
    # -displayfd picks a free display number, so parallel runs do not collide.
    XVFB_FIFO=$(mktemp -u)
    mkfifo "$XVFB_FIFO"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$XVFB_FIFO" >/dev/null 2>&1 &
    XVFB_PID=$!
    read -r XVFB_NUM <"$XVFB_FIFO"
    rm -f "$XVFB_FIFO"
    export DISPLAY=":$XVFB_NUM"
fi
cleanup() { [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout 300

# The cross-thread parts again under ThreadSanitizer (a build of their own).
sh tests/platform/tsan.sh build-tsan
sh tests/media/tsan.sh build-tsan-media

# Fuzz targets: built with clang's libFuzzer; one fixed budget is shared
# among them (at least 5 s each).
FUZZ_BUDGET=${QX_FUZZ_BUDGET:-240}
FUZZ=build-fuzz
if [ ! -f "$FUZZ/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$FUZZ" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQX_SANITIZE=ON -DQX_TESTS=OFF -DQX_FUZZ=ON
fi
cmake --build "$FUZZ" -j "$JOBS" --target fuzzers
FUZZ_COUNT=$(ls "$FUZZ"/tests/fuzz/fuzz_* 2>/dev/null | wc -l)
FUZZ_SECONDS=$(( FUZZ_BUDGET / (FUZZ_COUNT > 0 ? FUZZ_COUNT : 1) ))
[ "$FUZZ_SECONDS" -ge 5 ] || FUZZ_SECONDS=5
for f in "$FUZZ"/tests/fuzz/fuzz_*; do
    [ -x "$f" ] || continue
    corpus="$FUZZ/corpus/$(basename "$f")"
    mkdir -p "$corpus"
    echo "fuzzing $(basename "$f") for ${FUZZ_SECONDS}s"
    # Seed files, where a target has them, start its corpus.
    seeds="tests/seeds/$(basename "$f" | sed 's/^fuzz_//')"
    [ -d "$seeds" ] || seeds=
    "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=20 -print_final_stats=0 \
        "$corpus" $seeds >"$corpus.log" 2>&1 || { tail -50 "$corpus.log"; exit 1; }
done
echo "all tests passed"

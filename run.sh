#!/bin/sh
# Builds the player (incrementally) and runs it on the given applet, or on
# the bundled example when none is given.
set -e
cd "$(dirname "$0")"
. scripts/setup.sh

BUILD=build
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_TESTS=OFF
fi
cmake --build "$BUILD" --target zephyrane examples

if [ $# -eq 0 ]; then
    set -- "$BUILD/examples/hello.qxa"
fi
exec "$BUILD/src/main/zephyrane" "$@"

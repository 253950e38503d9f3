#!/bin/sh
# Builds the player (incrementally) and runs it on the given applet, or on
# the bundled example when none is given.
set -e
cd "$(dirname "$0")"

usage() {
    cat <<'USAGE'
Usage: ./run.sh [applet] [player options]

  ./run.sh                       runs the bundled example examples/hello.qxs
  ./run.sh examples/NAME.qxs     runs one of the examples (assembled on the way)
  ./run.sh path/to/applet.qxa    runs an applet file
  ./run.sh -HELP                 lists the player's options

The examples:
USAGE
    for f in examples/*.qxs; do
        printf '  %-28s %s\n' "$f" "$(head -1 "$f" | sed 's/^; *//')"
    done
}

case "$1" in
    --help|-h) usage; exit 0 ;;
esac

. scripts/setup.sh

BUILD=build
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_TESTS=OFF
fi
# The script VM is built with profile feedback: first to record a profile,
# which a run of the training corpus (tools/vmtrain/corpus) fills, then
# from that profile. It is trained again when the VM or the corpus changes.
STAMP="$BUILD/vm-profile/trained"
if [ ! -f "$STAMP" ] || [ -n "$(find src/core/vm tools/vmtrain -newer "$STAMP" | head -1)" ]; then
    rm -rf "$BUILD/vm-profile"
    if cmake -S . -B "$BUILD" -DQX_VM_PROFILE=generate >/dev/null &&
        cmake --build "$BUILD" --target vm_training; then
        mkdir -p "$BUILD/vm-profile" && touch "$STAMP"
        cmake -S . -B "$BUILD" -DQX_VM_PROFILE=use >/dev/null
    else
        echo "run.sh: the VM's training run failed: building it without profile feedback" >&2
        rm -rf "$BUILD/vm-profile"
        cmake -S . -B "$BUILD" -DQX_VM_PROFILE= >/dev/null
    fi
fi
cmake --build "$BUILD" --target zephyrane examples

if [ $# -eq 0 ]; then
    set -- "$BUILD/examples/hello.qxa"
fi
# An example listing runs as the applet the build assembled from it.
case "$1" in
    examples/*.qxs|./examples/*.qxs)
        name=$(basename "$1" .qxs)
        shift
        set -- "$BUILD/examples/$name.qxa" "$@"
        ;;
esac
if [ -z "$DISPLAY" ]; then
    echo "run.sh: no X server (DISPLAY is not set): set DISPLAY, or run under a virtual one: xvfb-run -a ./run.sh (Debian package xvfb)" >&2
fi
exec "$BUILD/src/main/zephyrane" "$@"

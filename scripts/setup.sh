#!/bin/sh
# Installs the Debian packages that are missing: those that building and
# running the player need, and with QX_SETUP_TESTS=1 also those that the
# tests and benchmarks add (peers, servers, X tools). Sourced by run.sh and
# test.sh.
set -e

# Building and running: compiler and build tools, the libraries the player
# links or loads at run time (with the archives of those it takes in), and
# the fonts it stores.
QX_RUN_PACKAGES="cmake ninja-build g++ python3 \
zlib1g-dev libx11-dev libfreetype-dev libbrotli-dev libjpeg62-turbo-dev libpng-dev ttf-bitstream-vera \
libxrandr-dev libxxf86vm-dev libxcursor-dev libxfixes-dev libxss-dev libasound2-dev \
libxfixes3 libxcursor1 libxrandr2 libxxf86vm1 libxss1 libasound2-plugins \
libgtk2.0-0 libpango-1.0-0 libnotify4 \
libopencv-imgproc-dev"

# What the tests add.
QX_TEST_PACKAGES="clang libclang-rt-14-dev libgtest-dev xvfb xauth lua5.1 \
socat nginx-light python3-pyftpdlib curl tinyproxy-bin \
python3-dbusmock dbus libglib2.0-bin alsa-utils sox sndfile-programs ffmpeg \
libpixman-1-dev python3-pil python3-numpy pkg-config openmpt123 xmp \
imagemagick netpbm libjpeg-turbo-progs libstb-dev gdk-pixbuf-tests golang-1.19-src \
golang-golang-x-image-dev \
libxext-dev libxtst-dev \
openbox xdotool x11-utils x11-xserver-utils python3-xlib xserver-xorg-core xserver-xorg-video-dummy \
xclip \
libcairo2-dev libpango1.0-dev fontconfig fonts-dejavu-core iso-codes"

QX_PACKAGES=$QX_RUN_PACKAGES
if [ "${QX_SETUP_TESTS:-0}" = 1 ]; then
    QX_PACKAGES="$QX_PACKAGES $QX_TEST_PACKAGES"
fi

qx_missing=""
for p in $QX_PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        qx_missing="$qx_missing $p"
    fi
done
if [ -n "$qx_missing" ]; then
    echo "Installing:$qx_missing"
    if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then SUDO=sudo; else SUDO=; fi
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $qx_missing
fi

#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# Sourced by run.sh and test.sh.
set -e

QX_PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev python3 \
zlib1g-dev libx11-dev libfreetype-dev libjpeg62-turbo-dev libpng-dev xvfb xauth lua5.1 \
socat nginx-light python3-pyftpdlib curl tinyproxy-bin \
libgtk2.0-0 libpango-1.0-0 libnotify4 python3-dbusmock dbus libglib2.0-bin libasound2-dev libasound2-plugins alsa-utils sox sndfile-programs ffmpeg \
libpixman-1-dev python3-pil python3-numpy pkg-config openmpt123 xmp \
imagemagick netpbm libjpeg-turbo-progs libstb-dev gdk-pixbuf-tests golang-1.19-src \
golang-golang-x-image-dev ttf-bitstream-vera \
libxrandr-dev libxxf86vm-dev libxcursor-dev libxfixes-dev libxss-dev libxext-dev libxtst-dev \
libxfixes3 libxcursor1 libxrandr2 libxxf86vm1 libxss1 \
openbox xdotool x11-utils x11-xserver-utils python3-xlib xserver-xorg-core xserver-xorg-video-dummy \
libopencv-imgproc-dev xclip \
libcairo2-dev libpango1.0-dev fontconfig fonts-dejavu-core"

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

#!/bin/sh
# Runs a listing (full_disk.qxs unless named) with its "full" folder on a 64 KiB tmpfs mounted in a
# mount namespace of its own (gone with the run). Where no namespace can be
# made, a 64 KiB file-size limit on the player stands in: writes past it
# fail with EFBIG once SIGXFSZ is ignored.
# usage: full_disk.sh QXASM PLAYER WORKDIR [LISTING]
set -e
here=$(cd "$(dirname "$0")" && pwd)
qxasm=$1 player=$2 work=$3 listing=${4:-full_disk.qxs}
# QX_FULL_DISK_NS: "inside" once in the namespace; "limit" forces the limit.
if [ -z "$QX_FULL_DISK_NS" ] && unshare -m --propagation private true 2>/dev/null; then
    QX_FULL_DISK_NS=inside exec unshare -m --propagation private sh "$0" "$@"
fi
export QX_FULL_DISK_DIR="$work.mnt"
mkdir -p "$work.mnt"
if [ "$QX_FULL_DISK_NS" = inside ] && mount -t tmpfs -o size=64k qxfull "$work.mnt"; then
    echo "full disk: a 64 KiB tmpfs"
else
    echo "full disk: a 64 KiB file-size limit"
    rm -rf "$work.mnt" && mkdir -p "$work.mnt"
    cat >"$work.player" <<EOS
#!/bin/sh
trap '' XFSZ
ulimit -f 64
exec "$player" "\$@"
EOS
    chmod +x "$work.player"
    player=$work.player
fi
exec python3 "$here/../../tools/e2e/run_e2e.py" --qxasm "$qxasm" --player "$player" \
    --workdir "$work" "$here/$listing"

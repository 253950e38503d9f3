#include "core/codecs/qx_unpack.h"

#include <zlib.h>

#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"

namespace {

constexpr size_t kBlock = 16384;

struct Inflater {
    z_stream zs{};
    bool ready = false;
    ~Inflater()
    {
        if (ready) inflateEnd(&zs);
    }
};

// Runs the stream from src into either out (a file) or buf.
int inflateStream(qxFileHandle *src, qxFileHandle *out, uint8_t *buf, uint64_t bufSize, uint64_t *used,
                  uint64_t *made)
{
    Inflater z;
    if (int r = inflateInit(&z.zs); r != Z_OK) return qxZlibError(r);
    z.ready = true;
    uint8_t in[kBlock];
    uint8_t tmp[kBlock];
    uint64_t total = 0, taken = 0;
    for (;;) {
        if (z.zs.avail_in == 0) {
            int64_t n = qxRead(src, in, sizeof in);
            if (n < 0) return ERR_READ;
            if (n == 0) return ERR_ZLIBDATA; // the stream ends before its end marker
            z.zs.next_in = in;
            z.zs.avail_in = static_cast<uInt>(n);
        }
        uInt before = z.zs.avail_in;
        uint8_t *dst;
        size_t room;
        if (out) {
            dst = tmp;
            room = sizeof tmp;
        } else {
            if (total >= bufSize) break; // the buffer is full: the caller wanted a prefix
            dst = buf + total;
            room = static_cast<size_t>(bufSize - total < kBlock ? bufSize - total : kBlock);
        }
        z.zs.next_out = dst;
        z.zs.avail_out = static_cast<uInt>(room);
        int r = inflate(&z.zs, Z_NO_FLUSH);
        size_t got = room - z.zs.avail_out;
        taken += before - z.zs.avail_in;
        if (out && got && qxWrite(out, tmp, static_cast<int64_t>(got)) != static_cast<int64_t>(got))
            return ERR_WRITE;
        total += got;
        if (r == Z_STREAM_END) break;
        if (r == Z_BUF_ERROR && got == 0 && z.zs.avail_in > 0) return ERR_ZLIBDATA;
        if (r != Z_OK && r != Z_BUF_ERROR) return qxZlibError(r);
    }
    if (used) *used = taken;
    if (made) *made = total;
    return 0;
}

} // namespace

extern "C" int qxUnpackData(const char tag[4], const char *sourcePath, const char *destPath, qxFileHandle *source,
                            int64_t offset, uint64_t *consumed, void *buffer, uint64_t bufferSize,
                            uint64_t *produced)
{
    if (consumed) *consumed = 0;
    if (produced) *produced = 0;
    qxFileHandle *src = source;
    if (!src) {
        src = sourcePath ? qxOpen(sourcePath, QX_OPEN_READ | QX_OPEN_ADAPTERS | QX_OPEN_EMULATESEEK, nullptr) : nullptr;
        if (!src) {
            if (sourcePath) qxSetErrorString(sourcePath);
            return ERR_READFILE;
        }
    }
    auto closeSource = [&] {
        if (src != source) qxClose(src);
    };
    uint8_t head[4];
    if (offset < 0 || qxSeek(src, offset, 1) < 0 || qxRead(src, head, 4) != 4) {
        closeSource();
        return ERR_READ;
    }
    if (std::memcmp(head, tag, 4) != 0) {
        closeSource();
        return ERR_PAKFORMAT;
    }
    // The four bytes after the tag carry nothing; a file that ends inside
    // them ends before its stream, which the inflater reports.
    if (qxRead(src, head, 4) < 0) {
        closeSource();
        return ERR_READ;
    }
    qxFileHandle *out = nullptr;
    if (destPath) {
        out = qxOpen(destPath, QX_OPEN_WRITE | QX_OPEN_ADAPTERS, nullptr);
        if (!out) {
            closeSource();
            qxSetErrorString(destPath);
            return ERR_WRITEFILE;
        }
    } else if (!buffer) {
        closeSource();
        return ERR_WRONGUSAGE;
    }
    uint64_t used = 0;
    int r = inflateStream(src, out, static_cast<uint8_t *>(buffer), bufferSize, &used, produced);
    closeSource();
    if (out && !qxClose(out) && !r) r = ERR_WRITE;
    // A half-inflated plug-in or applet must not be found and used later.
    if (r && out) qxDeleteFile(destPath);
    if (!r && consumed) *consumed = 8 + used;
    return r;
}

extern "C" int qxZlibError(int z)
{
    switch (z) {
    case Z_VERSION_ERROR: return ERR_ZLIBVERSION;
    case Z_BUF_ERROR: return ERR_UNKNOWN;
    case Z_MEM_ERROR: return ERR_MEM;
    case Z_DATA_ERROR:
    case Z_NEED_DICT: return ERR_ZLIBDATA;
    case Z_STREAM_ERROR: return ERR_ZLIBSTREAM;
    case Z_ERRNO: return ERR_ZLIBIO;
    default: return ERR_UNKNOWN;
    }
}

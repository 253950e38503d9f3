// Byte-order readers and writers, and whole-file copy and read.
#include <algorithm>
#include <cstring>
#include <memory>

#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "platform/qx_memory.h"

namespace {

constexpr int64_t kBlock = 16384;

// An end of file (-1) sets every bit of its byte's place and above.
uint32_t byteAt(int c, int shift) { return static_cast<uint32_t>(c) << shift; }

struct FreeBlock {
    void operator()(void *p) const { qxFree(p); }
};
using Block = std::unique_ptr<char, FreeBlock>;

struct CloseFile {
    void operator()(qxFileHandle *h) const { qxClose(h); }
};
using OwnedFile = std::unique_ptr<qxFileHandle, CloseFile>;

// The given handle rewound, or a new one (owned) opened for reading.
qxFileHandle *openSource(const char *name, const char *list, qxFileHandle *given, uint32_t flags, OwnedFile &owned)
{
    if (given) {
        qxSeek(given, 0, 1);
        return given;
    }
    owned.reset(qxOpen(name, flags, list));
    if (!owned) qxSetErrorString(name);
    return owned.get();
}

// Writes the bytes in order; 1 when every one was written.
template <size_t N> int putAll(qxFileHandle *h, const int (&bytes)[N])
{
    int ok = 1;
    for (int b : bytes) ok &= qxPutC(h, b & 0xFF);
    return ok;
}

// Size of the data to copy, or -1 for a stream of unknown length.
int64_t knownSize(qxFileHandle *h) { return qxIsStreamHandle(h) ? -1 : qxFileSize(h); }

} // namespace

extern "C" {

uint32_t qxReadBE32(qxFileHandle *h)
{
    int a = qxGetC(h), b = qxGetC(h), c = qxGetC(h), d = qxGetC(h);
    return byteAt(a, 24) | byteAt(b, 16) | byteAt(c, 8) | byteAt(d, 0);
}

uint16_t qxReadBE16(qxFileHandle *h)
{
    int a = qxGetC(h), b = qxGetC(h);
    return static_cast<uint16_t>(byteAt(a, 8) | byteAt(b, 0));
}

uint16_t qxReadBE16ByBytes(qxFileHandle *h) { return qxReadBE16(h); }

int qxCopyFile(const char *source, const char *adapterList, const char *destination, qxFileHandle *open)
{
    Block buffer(static_cast<char *>(qxAlloc(kBlock, 0)));
    if (!buffer) return 1000;
    OwnedFile ownedSource;
    qxFileHandle *in = openSource(source, adapterList, open, QX_OPEN_READ | QX_OPEN_ADAPTERS, ownedSource);
    if (!in) return 1045;
    OwnedFile out(qxOpen(destination, QX_OPEN_WRITE, nullptr));
    if (!out) {
        qxSetErrorString(destination);
        return 1052;
    }
    int64_t size = knownSize(in);
    for (int64_t done = 0; size < 0 || done < size;) {
        int64_t want = size < 0 ? kBlock : std::min(kBlock, size - done);
        int64_t got = qxRead(in, buffer.get(), want);
        if (size >= 0 && got != want) return 1009;
        if (got > 0 && qxWrite(out.get(), buffer.get(), got) != got) return 1005;
        done += got;
        if (got < want) break; // the end of a stream of unknown length
    }
    return 0;
}

int qxReadWholeFile(const char *name, const char *adapterList, qxFileHandle *open, void **buffer,
                    int64_t *length, int allowAdapters, size_t extra)
{
    if (!buffer || !length) return 1000;
    *buffer = nullptr;
    *length = 0;
    OwnedFile owned;
    uint32_t flags = QX_OPEN_READ | (allowAdapters ? QX_OPEN_ADAPTERS : 0u);
    qxFileHandle *in = openSource(name, adapterList, open, flags, owned);
    if (!in) return 1045;

    int64_t size = knownSize(in);
    size_t total;
    if (size >= 0) {
        if (static_cast<uint64_t>(size) > SIZE_MAX || !qxAddSize(static_cast<size_t>(size), extra, &total)) return 1000;
        Block data(static_cast<char *>(qxAlloc(total ? total : 1, 0)));
        if (!data) return 1000;
        if (qxRead(in, data.get(), size) != size) return 1009;
        *buffer = data.release();
        *length = size;
        return 0;
    }

    // Unknown length: grow block by block until a short read.
    Block data;
    int64_t used = 0, capacity = 0;
    for (;;) {
        if (capacity - used < kBlock) {
            Block bigger(static_cast<char *>(qxAlloc(static_cast<size_t>(capacity + kBlock), 0)));
            if (!bigger) return 1000;
            if (used) std::memcpy(bigger.get(), data.get(), static_cast<size_t>(used));
            data = std::move(bigger);
            capacity += kBlock;
        }
        int64_t got = qxRead(in, data.get() + used, kBlock);
        used += got;
        if (got < kBlock) break;
    }
    if (!qxEOF(in)) return 1009;
    if (!qxAddSize(static_cast<size_t>(used), extra, &total)) return 1000;
    Block exact(static_cast<char *>(qxAlloc(total ? total : 1, 0)));
    if (!exact) return 1000;
    if (used) std::memcpy(exact.get(), data.get(), static_cast<size_t>(used));
    *buffer = exact.release();
    *length = used;
    return 0;
}

} // extern "C"

#include "display/qx_bgpic.h"

#include <cstdlib>

#include "platform/qx_errcodes.h"

extern "C" {
qxBGPic *qxBGPics;
}

namespace {

void fillRows(const qxBitMapLock &lock, uint32_t colour)
{
    for (uint32_t y = 0; y < lock.height; y++) {
        if (lock.bytesPerPixel == 4) {
            auto *row = static_cast<uint32_t *>(lock.pixels) + (size_t)y * lock.pixelsPerRow;
            for (uint32_t x = 0; x < lock.width; x++)
                row[x] = 0xFF000000u | colour;
        } else if (lock.bytesPerPixel == 2) {
            auto *row = static_cast<uint16_t *>(lock.pixels) + (size_t)y * lock.pixelsPerRow;
            uint16_t v = (uint16_t)(((colour >> 8) & 0xF800) | ((colour >> 5) & 0x7E0) |
                                    ((colour & 0xFF) >> 3));
            for (uint32_t x = 0; x < lock.width; x++)
                row[x] = v;
        }
    }
}

} // namespace

extern "C" {

int qxFillBitMapColour(qxBitMap *bitmap, uint32_t colour)
{
    qxBitMapLock lock;
    if (!qxLockBitMap(bitmap, 0, &lock))
        return ERR_LOCKBMAP;
    if (!lock.width)
        lock.width = bitmap->width, lock.height = bitmap->height;
    fillRows(lock, colour & 0xFFFFFF);
    qxUnLockBitMap(&lock);
    return 0;
}

int qxAllocBGPic(uint32_t id, int automatic, int32_t width, int32_t height, uint32_t colour,
                 qxBGPic **out)
{
    *out = nullptr;
    auto *b = static_cast<qxBGPic *>(std::calloc(1, sizeof(qxBGPic)));
    if (!b)
        return ERR_MEM;
    b->type = QX_TYPE_BGPIC;
    b->width = width;
    b->height = height;
    b->fillStyle = 1;
    b->fillColor = colour;
    b->bitmap = qxAllocBitMap((uint32_t)width, (uint32_t)height, 0, nullptr);
    if (!b->bitmap) {
        std::free(b);
        return ERR_BITMAP;
    }
    if (int r = qxFillBitMapColour(b->bitmap, colour)) {
        qxFreeBitMap(b->bitmap);
        std::free(b);
        return r;
    }
    b->automatic = automatic ? b : nullptr;
    b->id = automatic ? (uint32_t)(uintptr_t)b : id;
    qxBGPic **tail = &qxBGPics;
    while (*tail)
        tail = &(*tail)->next;
    *tail = b;
    *out = b;
    return 0;
}

qxBGPic *qxFindBGPicRecord(qxObjectRef ref)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        if (b->automatic == ref.automatic && b->id == ref.number)
            return b;
    return nullptr;
}

void qxFreeBGPicRecord(qxBGPic *bgpic)
{
    if (!bgpic)
        return;
    for (qxBGPic **p = &qxBGPics; *p; p = &(*p)->next) {
        if (*p == bgpic) {
            *p = bgpic->next;
            break;
        }
    }
    qxFreeBitMap(bgpic->bitmap);
    std::free(bgpic);
}

void qxFreeAllBGPicRecords(void)
{
    while (qxBGPics)
        qxFreeBGPicRecord(qxBGPics);
}
}

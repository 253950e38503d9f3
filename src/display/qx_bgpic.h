// BGPic records as far as a display needs them: the list, allocation with
// a colour fill and freeing. The BGPic library builds its commands on these.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

enum : uint32_t { QX_TYPE_BGPIC = 2 };

struct qxBGPic {
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxBGPic *next;
    int32_t width, height;
    qxBitMap *bitmap;
    uint32_t fillStyle, fillColor;
};

extern "C" {
extern qxBGPic *qxBGPics;
// A BGPic of width x height filled with colour (0xRRGGBB), appended to the
// list; automatic identifiers use the record's address. 0, 1000 or 1522.
int qxAllocBGPic(uint32_t id, int automatic, int32_t width, int32_t height, uint32_t colour,
                 qxBGPic **out);
qxBGPic *qxFindBGPicRecord(qxObjectRef ref);
// Fills a pixel bitmap with 0xRRGGBB (opaque); 1152 when it cannot be locked.
int qxFillBitMapColour(qxBitMap *bitmap, uint32_t colour);
void qxFreeBGPicRecord(qxBGPic *bgpic);
void qxFreeAllBGPicRecords(void);
}

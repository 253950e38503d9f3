// Link record of a linked executable.
#pragma once
#include <cstdint>

#define QX_LINK_NONE {0xDE, 0xAD, 0xC0, 0xDE}
enum : uint32_t { QX_LINK_NOTHING = 0xDEADC0DE };

struct qxLinkRecord {
    char tag[32];
    uint8_t offset[4]; // big-endian file offset of the appended data
};

struct qxLinkRecordBlock {
    uint8_t before[12]; // DEADBEEF FEEDF00D BEEFF00D, big-endian
    qxLinkRecord record;
    uint8_t after[8];   // C0DECAFE C0CAC01A, big-endian
};

extern "C" {
extern volatile qxLinkRecordBlock qxLinkBlock;
// The appended-data offset, or QX_LINK_NOTHING.
uint32_t qxReadLinkOffset(void);
}

// The item buffer of a vector path. Its byte format is what plug-in vector
// engines receive, so it is fixed: items follow each other without gaps,
// each starts with a u32 opcode, numbers are host-order u32, u64 or f64,
// and a u32 0 always ends the buffer.
#pragma once
#include <cstddef>
#include <cstdint>

enum : uint32_t {
    QX_PATH_END = 0,
    QX_PATH_MOVETO = 1,     // u32 relative, f64 x, f64 y: 24 bytes
    QX_PATH_LINETO = 2,     // as MoveTo
    QX_PATH_CURVETO = 3,    // u32 relative, f64 x1 y1 x2 y2 x3 y3: 56 bytes
    QX_PATH_NEWSUBPATH = 5, // 4 bytes
    QX_PATH_CLOSEPATH = 6,  // 4 bytes
    QX_PATH_ARC = 7,        // f64 xc yc ra rb start end, u32 clockwise: 56 bytes
    QX_PATH_BOX = 8,        // f64 x y width height, i32 corner levels a b c d: 52 bytes
    QX_PATH_TEXT = 9,       // u64 vector font, u32 size, padded UTF-8 text
};

extern "C" {

// Vector settings; the field order is fixed (copied as one block into styles and layer data).
struct qxVectorState {
    int32_t lineJoin;  // JOINMITER 0, JOINROUND 1, JOINBEVEL 2
    int32_t lineCap;   // CAPBUTT 0, CAPROUND 1, CAPSQUARE 2
    double dashOffset;
    int32_t dashCount; // 0: solid
    double *dashArray; // owned by the record
    int32_t fillRule;  // FILLRULEWINDING 0, FILLRULEEVENODD 1
    double miterLimit;
};

// Item storage of one path; the rest of the path object belongs to the command library.
struct qxPathBuffer {
    uint8_t *items;   // none until the first item
    int32_t capacity; // bytes allocated
    uint8_t *write;   // at the terminating 0 word
};

struct qxPathValue {
    int32_t type; // 0 u32, 1 f64, 2 string (a Text field), 3 u64
    union {
        uint32_t u32;
        double f64;
        const char *string;
        uint64_t u64;
    };
};

void qxResetVectorState(qxVectorState *state);
// Makes room for bytes more behind the write position: 0 or 1000 (out of memory).
int qxPathReserve(qxPathBuffer *path, size_t bytes);
// Appends one item and the end word: 0 or 1000; the path keeps its earlier items on failure.
int qxPathAppend(qxPathBuffer *path, uint32_t opcode, const qxPathValue *values, int32_t count);
void qxPathClear(qxPathBuffer *path);
}

// Bytes a Text item's string field takes: the text and its zero, padded to a whole 4 bytes and then 4 more.
size_t qxPathStringField(const char *text);
// Size of the item at p (opcode read there); unknown opcodes are 4-byte items.
size_t qxPathItemSize(const uint8_t *p);

// Range tables behind the Unicode classes and case mappings (generated into
// qx_unicode_tables.cpp by tools/gen_unicode_tables.py).
#pragma once
#include <cstddef>
#include <cstdint>

// A code point c belongs when first <= c <= last and (c - first) % step == 0.
struct qxClassRange {
    uint32_t first, last, step;
};
// Members map to c + delta.
struct qxCaseRange {
    uint32_t first, last, step;
    int32_t delta;
};

extern "C" const char qxUnicodeTablesVersion[];

#define QX_UNI_CLASS(name)                     \
    extern const qxClassRange qxUni##name##Table[]; \
    extern const size_t qxUni##name##Count;
QX_UNI_CLASS(Alpha)
QX_UNI_CLASS(Lower)
QX_UNI_CLASS(Upper)
QX_UNI_CLASS(Cntrl)
QX_UNI_CLASS(Digit)
QX_UNI_CLASS(XDigit)
QX_UNI_CLASS(Punct)
QX_UNI_CLASS(Space)
QX_UNI_CLASS(Graph)
QX_UNI_CLASS(Combining)
QX_UNI_CLASS(Number)
#undef QX_UNI_CLASS

extern const qxCaseRange qxUniToLowerTable[];
extern const size_t qxUniToLowerCount;
extern const qxCaseRange qxUniToUpperTable[];
extern const size_t qxUniToUpperCount;
extern const qxCaseRange qxUniFoldTable[];
extern const size_t qxUniFoldCount;

// ISO-8859-1 class flags: 1 graph, 2 letter, 4 lower case, 8 upper case.
extern const uint8_t qxLatin1Class[256];
extern const uint8_t qxLatin1ToLower[256];
extern const uint8_t qxLatin1ToUpper[256];

// Code points below this take part in the collation matrices.
enum { QX_COLLATION_SIZE = 592 };
extern const uint16_t qxCollationBase[QX_COLLATION_SIZE];

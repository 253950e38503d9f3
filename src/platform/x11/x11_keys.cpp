// The key table: X keysyms to the program's key codes, for the raw pass
// (layout-independent) and the vanilla pass (the typed character).
#include "platform/x11/x11_display.h"

namespace {

struct KeyRow {
    uint32_t keysym, code, alternate, special;
};

// Begin (0xFF58) is HOME; Home (0xFF50) deliberately has no row.
const KeyRow keyTable[] = {
    {0xFF08, 271, 0, 1}, {0xFF09, 272, 0, 1}, {0xFF0D, 274, 0, 1}, {0xFF8D, 273, 0, 1},
    {0xFF1B, 275, 0, 1}, {0xFFFF, 277, 0, 1}, {0xFF52, 256, 0, 1}, {0xFF54, 257, 0, 1},
    {0xFF53, 258, 0, 1}, {0xFF51, 259, 0, 1}, {0xFF6A, 260, 0, 1}, {0xFF63, 280, 0, 1},
    {0xFF55, 283, 0, 1}, {0xFF56, 284, 0, 1}, {0xFF61, 285, 0, 1}, {0xFF13, 286, 0, 1},
    {0xFF58, 281, 0, 1}, {0xFF57, 282, 0, 1},
    {0xFFBE, 261, 0, 1}, {0xFFBF, 262, 0, 1}, {0xFFC0, 263, 0, 1}, {0xFFC1, 264, 0, 1},
    {0xFFC2, 265, 0, 1}, {0xFFC3, 266, 0, 1}, {0xFFC4, 267, 0, 1}, {0xFFC5, 268, 0, 1},
    {0xFFC6, 269, 0, 1}, {0xFFC7, 270, 0, 1}, {0xFFC8, 278, 0, 1}, {0xFFC9, 279, 0, 1},
    {0xFFCA, 287, 0, 1}, {0xFFCB, 288, 0, 1}, {0xFFCC, 289, 0, 1}, {0xFFCD, 290, 0, 1},
    {0xFFAC, 44, 304, 0}, {0xFFAB, 43, 302, 0}, {0xFFAD, 45, 303, 0}, {0xFFAA, 42, 301, 0},
    {0xFFAF, 47, 305, 0},
    {0xFFB0, 48, 291, 0}, {0xFFB1, 49, 292, 0}, {0xFFB2, 50, 293, 0}, {0xFFB3, 51, 294, 0},
    {0xFFB4, 52, 295, 0}, {0xFFB5, 53, 296, 0}, {0xFFB6, 54, 297, 0}, {0xFFB7, 55, 298, 0},
    {0xFFB8, 56, 299, 0}, {0xFFB9, 57, 300, 0},
};

} // namespace

extern "C" {

uint32_t x11ModifierCode(unsigned long keysym)
{
    switch (keysym) {
    case 0xFE03:
    case 0xFFEA: return 309;
    case 0xFFE1: return 306;
    case 0xFFE2: return 307;
    case 0xFFE3: return 312;
    case 0xFFE4: return 313;
    case 0xFFE9: return 308;
    case 0xFFEB: return 310;
    case 0xFFEC: return 311;
    default: return 0;
    }
}

x11KeyResult x11MapKey(unsigned long keysym, unsigned long firstColumn, int pass)
{
    if (x11ModifierCode(keysym))
        return {-1, 1};
    for (const KeyRow &row : keyTable) {
        if (row.keysym == keysym) {
            uint32_t code = pass == 0 && row.alternate ? row.alternate : row.code;
            return {(int32_t)code, row.special};
        }
    }
    if (keysym == 32)
        return {(int32_t)QX_KEY_SPACE, 0};
    if (keysym > 255)
        return {-1, 0};
    if (pass == 1)
        return {(int32_t)keysym, 0};
    unsigned long c = firstColumn;
    if (c >= 'a' && c <= 'z')
        c -= 32;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))
        return {(int32_t)c, 0};
    return {-1, 0};
}
}

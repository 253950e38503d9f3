// The player's own window icon: a blue disc with a light rim in the five
// sizes the reserved icon area is laid out for (their records fill it
// exactly), so that applet icons of these sizes have records to replace.
// The build writes them into the area; a start writes them again only when
// it finds the area empty.
#pragma once
#include <cstdint>

// Bytes of the five records {width, height, pixels}.
constexpr uint32_t x11BuiltInIconBytes = (8 + 16 * 16 * 4) + (8 + 24 * 24 * 4) + (8 + 32 * 32 * 4) +
                                         (8 + 48 * 48 * 4) + (8 + 256 * 256 * 4);

// Writes the five records from records on (x11BuiltInIconBytes bytes).
void x11WriteBuiltInIcons(uint8_t *records);

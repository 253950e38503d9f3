// Many rand() values at once, for the dissolve's threshold map.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills out[0..n) with rand() % 255 exactly as n calls to rand() would, and
// leaves the C library's generator where those n calls would leave it.
void qxFXRandMod255(uint8_t *out, size_t n);

// The words that name a font's weight and slant after its family.
#include <cstdio>

#include "libs/qx_requestdispatch.h"

extern "C" {

const qxFontWord qxFontWords[] = {
    {"Thin", 0, 0},          {"Extralight", 0, 40},  {"Extra-light", 0, 40}, {"Ultralight", 0, 40},
    {"Ultra-light", 0, 40},  {"Light", 0, 50},       {"Book", 0, 75},        {"Normal", 0, 80},
    {"Regular", 0, 80},      {"Medium", 0, 100},     {"Semibold", 0, 180},   {"Semi-bold", 0, 180},
    {"Semi", 0, 180},        {"Demibold", 0, 180},   {"Demi-bold", 0, 180},  {"Demi", 0, 180},
    {"Bold", 0, 200},        {"Extrabold", 0, 205},  {"Extra-bold", 0, 205}, {"Ultrabold", 0, 205},
    {"Ultra-bold", 0, 205},  {"Heavy", 0, 210},      {"Black", 0, 210},      {"Extrablack", 0, 215},
    {"Extra-black", 0, 215}, {"Ultrablack", 0, 215}, {"Ultra-black", 0, 215}, {"Roman", 1, 0},
    {"Italic", 1, 100},      {"Oblique", 1, 110},    {nullptr, 0, 0},
};

namespace {

const char *wordFor(int kind, int value) {
    for (const qxFontWord *w = qxFontWords; w->word; w++)
        if (w->kind == kind && w->value == value) return w->word;
    return nullptr;
}

} // namespace

void qxFontDisplayName(const char *family, int weight, int slant, char *buffer, size_t size) {
    const char *w = weight != 80 ? wordFor(0, weight) : nullptr;
    const char *s = slant != 0 ? wordFor(1, slant) : nullptr;
    std::snprintf(buffer, size, "%s%s%s%s%s", family, w ? " " : "", w ? w : "", s ? " " : "", s ? s : "");
}
}

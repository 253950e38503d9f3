// Bitmap font contents and size files from arbitrary bytes.
#include <cstring>

#include "draw/fonts/qx_font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char name[260];
    char file[1024];
    if (qxParseFontContents(data, size, size ? data[0] : 8, name, sizeof name))
        qxFontSizeFileName(size & 1 ? ":::chunk10:99*f?dir/f.font" : "dir/f.font", name, file, sizeof file);
    qxFontHandle h;
    memset(&h, 0, sizeof h);
    if (qxParseBitmapFontSize(data, size, &h)) {
        qxTextExtent e;
        qxBitmapFontMeasureText(&h, reinterpret_cast<const char *>(data), size < 64 ? size : 64, 0, 1, &e);
        qxFreeBitmapFont(&h);
    }
    return 0;
}

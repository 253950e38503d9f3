// Tagged text from arbitrary bytes through the parser and the layout.
#include <cstring>

#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static qxFontHandle *font = [] {
        qxFontHandle *f = nullptr;
        qxInitFontSystem(&f);
        return f;
    }();
    if (size < 2) return 0;
    static const int32_t aligns[4] = {QX_ALIGN_LEFT, QX_ALIGN_CENTER, QX_ALIGN_RIGHT, QX_ALIGN_JUSTIFIED};
    static const int32_t tabs[3] = {16, 40, 90};
    qxTextRequest rq{};
    rq.block = {QX_TS_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, font};
    rq.block.style |= uint32_t(data[0] & 0x6E);
    rq.align = aligns[data[0] & 3];
    rq.wrap = data[1] & 0x7F;
    rq.encoding = data[0] >> 7;
    rq.tags = 1;
    rq.print = data[1] >> 7;
    rq.tabs = tabs;
    rq.tabCount = 3;
    rq.text = reinterpret_cast<const char *>(data + 2);
    rq.length = size - 2 < 512 ? size - 2 : 512;
    qxTextImage im;
    if (qxLayoutText(&rq, &im) == 0) qxFreeTextImage(&im);
    return 0;
}

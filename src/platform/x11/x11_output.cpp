// Frame output: puts rectangles of locked pixel rows into a display's
// window with XPutImage (the XImage wraps the caller's memory), and the
// window-level fill, point and line primitives, all clipped around videos
// shown directly on the display.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

namespace {

// Premultiplies the rectangle into scratch at the destination position;
// the scratch frame then becomes the image source.
void premultiply(x11DisplayData *x, const uint8_t *pixels, uint32_t bytesPerRow, int format,
                 int sx, int sy, int dx, int dy, int w, int h)
{
    const bool alphaLast = format == 10;
    for (int j = 0; j < h; j++) {
        const uint8_t *src = pixels + (size_t)(sy + j) * bytesPerRow + (size_t)sx * 4;
        uint8_t *dst = reinterpret_cast<uint8_t *>(x->scratch) +
                       ((size_t)(dy + j) * x->alphaWidth + (size_t)dx) * 4;
        const uint8_t *alpha = x->alphaCopy + (size_t)(dy + j) * x->alphaWidth + dx;
        for (int i = 0; i < w; i++, src += 4, dst += 4) {
            unsigned a = alpha[i];
            if (alphaLast) {
                dst[0] = (uint8_t)(src[0] * a / 255);
                dst[1] = (uint8_t)(src[1] * a / 255);
                dst[2] = (uint8_t)(src[2] * a / 255);
                dst[3] = (uint8_t)a;
            } else {
                dst[0] = (uint8_t)a;
                dst[1] = (uint8_t)(src[1] * a / 255);
                dst[2] = (uint8_t)(src[2] * a / 255);
                dst[3] = (uint8_t)(src[3] * a / 255);
            }
        }
    }
}

// Clips a put of w x h from (sx, sy) of a bw x bh source to (dx, dy) of a
// target of tw x th; false when nothing is left.
bool clipPut(int &sx, int &sy, int &dx, int &dy, int &w, int &h, int bw, int bh, int tw, int th)
{
    auto axis = [](int &s, int &d, int &len, int srcLen, int dstLen) {
        if (s < 0) { d -= s; len += s; s = 0; }
        if (d < 0) { s -= d; len += d; d = 0; }
        len = std::min(len, srcLen - s);
        len = std::min(len, dstLen - d);
        return len > 0;
    };
    return axis(sx, dx, w, bw, tw) && axis(sy, dy, h, bh, th);
}

bool drawable(const qxDisplay *display, const x11DisplayData *x)
{
    return x && x->window && x->gc && display->state == QX_DISPSTATE_OPEN;
}

} // namespace

extern "C" {

uint32_t x11ColorToPixel(uint32_t c, int format)
{
    uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    switch (format) {
    case 10: return c;
    case 11: return __builtin_bswap32(c);
    case 12: return (c << 8) | a;
    case 13: return (a << 24) | (b << 16) | (g << 8) | r;
    case 4: return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    default: return c;
    }
}

void x11MakeClipRegion(qxDisplay *display, Region *out, uint32_t flags)
{
    *out = nullptr;
    x11DisplayData *x = x11Data(display);
    if ((flags & 32) || !x || !qxUpcalls.videoRects)
        return;
    // The list fills at most the room it is given: grow until every video
    // fits (a 17th video is cut out like the first).
    std::vector<int32_t> rects;
    int n = 0;
    for (size_t room = 16; room <= (1u << 20); room *= 2) {
        try {
            rects.resize(room * 4);
        } catch (const std::bad_alloc &) {
            break; // the videos that fitted are still cut out
        }
        n = qxUpcalls.videoRects(display, reinterpret_cast<int32_t(*)[4]>(rects.data()), (int)room);
        n = std::min(n, (int)room);
        if (n < (int)room)
            break;
    }
    if (n <= 0)
        return;
    Region clip = XCreateRegion();
    XRectangle all{0, 0, (unsigned short)std::clamp(display->width, 0, 65535),
                   (unsigned short)std::clamp(display->height, 0, 65535)};
    XUnionRectWithRegion(&all, clip, clip);
    for (int i = 0; i < n; i++) {
        Region video = XCreateRegion();
        const int32_t *v = &rects[(size_t)i * 4];
        XRectangle r{(short)std::clamp(v[0] + display->marginLeft, -32768, 32767),
                     (short)std::clamp(v[1] + display->marginTop, -32768, 32767),
                     (unsigned short)std::clamp(v[2], 0, 65535),
                     (unsigned short)std::clamp(v[3], 0, 65535)};
        XUnionRectWithRegion(&r, video, video);
        // Subtract, not exclusive-or: overlapping videos stay cut out.
        XSubtractRegion(clip, video, clip);
        XDestroyRegion(video);
    }
    XSetRegion(x->display, x->gc, clip);
    *out = clip;
}

void x11FreeClipRegion(x11DisplayData *x, Region region)
{
    if (!region)
        return;
    XSetClipMask(x->display, x->gc, None);
    XDestroyRegion(region);
}

void x11SetForeground(x11DisplayData *x, uint32_t colour)
{
    int format = x->conn ? x->conn->pixelFormat : 10;
    XGCValues v{};
    v.foreground = format == 10 ? (colour & 0xFFFFFF) : x11ColorToPixel(colour, format);
    XChangeGC(x->display, x->gc, GCForeground, &v);
}

int x11BltBitMap(const void *pixels, uint32_t bytesPerRow, uint32_t bitmapWidth,
                 uint32_t bitmapHeight, int pixelFormat, int srcX, int srcY, qxDisplay *display,
                 int dstX, int dstY, int width, int height, uint32_t flags)
{
    x11DisplayData *x = x11Data(display);
    if (!drawable(display, x) || x->dragging || x->resizing || !pixels)
        return 0;
    uint32_t bpp = qxPixelFormatBytes(pixelFormat);
    if (!bpp || bitmapWidth > 32767 || bitmapHeight > 32767 ||
        (uint64_t)bitmapWidth * bpp > bytesPerRow)
        return 0;
    dstX += display->marginLeft;
    dstY += display->marginTop;
    const char *data = static_cast<const char *>(pixels);
    uint32_t depth = x->depth, bitsPerPixel = bpp * 8, rowBytes = bytesPerRow;
    uint32_t imageWidth = bitmapWidth, imageHeight = bitmapHeight;
    if (x->alphaCopy && x->scratch) {
        if (bpp != 4 || !clipPut(srcX, srcY, dstX, dstY, width, height, (int)bitmapWidth,
                                 (int)bitmapHeight, (int)x->alphaWidth, (int)x->alphaHeight))
            return 0;
        premultiply(x, static_cast<const uint8_t *>(pixels), bytesPerRow, pixelFormat, srcX, srcY,
                    dstX, dstY, width, height);
        data = reinterpret_cast<const char *>(x->scratch);
        depth = 32;
        bitsPerPixel = 32;
        rowBytes = x->alphaWidth * 4;
        imageWidth = x->alphaWidth;
        imageHeight = x->alphaHeight;
        srcX = dstX;
        srcY = dstY;
    } else if ((depth >= 24 && bpp != 4) || (depth == 16 && bpp != 2)) {
        return 0; // rows the visual cannot take as they are
    }
    XImage *image = XCreateImage(x->display, x->visual, depth, ZPixmap, 0,
                                 const_cast<char *>(data), imageWidth, imageHeight,
                                 (int)bitsPerPixel, (int)rowBytes);
    if (!image)
        return 0;
    Region clip = nullptr;
    if (!(flags & 32))
        x11MakeClipRegion(display, &clip, flags);
    XPutImage(x->display, x->window, x->gc, image, srcX, srcY, dstX, dstY,
              (unsigned)std::max(width, 0), (unsigned)std::max(height, 0));
    XFlush(x->display);
    x11FreeClipRegion(x, clip);
    image->data = nullptr;
    XDestroyImage(image);
    return 0;
}

int x11BltPlain(uint32_t colour, uint32_t bitmapWidth, uint32_t bitmapHeight, int pixelFormat, int srcX,
                int srcY, qxDisplay *display, int dstX, int dstY, int width, int height, uint32_t flags)
{
    x11DisplayData *x = x11Data(display);
    // The window's alpha goes through the premultiplied put; a video frame
    // is put without the videos' clip.
    if ((x && x->alphaCopy) || (flags & 32))
        return -1;
    if (!drawable(display, x) || x->dragging || x->resizing)
        return 0;
    // What the put would have shown: the rows the visual takes as they
    // are, cut to the bitmap.
    const uint32_t bpp = qxPixelFormatBytes(pixelFormat);
    if ((x->depth >= 24 && bpp != 4) || (x->depth == 16 && bpp != 2) || !bpp)
        return 0;
    if (srcX < 0) { dstX -= srcX; width += srcX; srcX = 0; }
    if (srcY < 0) { dstY -= srcY; height += srcY; srcY = 0; }
    width = std::min<int64_t>(width, (int64_t)bitmapWidth - srcX);
    height = std::min<int64_t>(height, (int64_t)bitmapHeight - srcY);
    x11FillRect(display, dstX, dstY, width, height, colour);
    return 0;
}

void x11FillRect(qxDisplay *display, int px, int py, int width, int height, uint32_t colour)
{
    x11DisplayData *x = x11Data(display);
    if (!drawable(display, x) || width <= 0 || height <= 0)
        return;
    Region clip;
    x11MakeClipRegion(display, &clip, 0);
    x11SetForeground(x, colour);
    XFillRectangle(x->display, x->window, x->gc, px + display->marginLeft,
                   py + display->marginTop, (unsigned)width, (unsigned)height);
    XFlush(x->display);
    x11FreeClipRegion(x, clip);
}

void x11WritePixel(qxDisplay *display, int px, int py, uint32_t colour)
{
    x11DisplayData *x = x11Data(display);
    if (!drawable(display, x))
        return;
    Region clip;
    x11MakeClipRegion(display, &clip, 0);
    x11SetForeground(x, colour);
    XDrawPoint(x->display, x->window, x->gc, px + display->marginLeft, py + display->marginTop);
    XFlush(x->display);
    x11FreeClipRegion(x, clip);
}

void x11FillRects(qxDisplay *display, const int32_t (*rects)[4], int count, uint32_t colour)
{
    x11DisplayData *x = x11Data(display);
    if (!drawable(display, x) || !rects || count < 1)
        return;
    std::vector<XRectangle> out;
    out.reserve(size_t(count));
    for (int i = 0; i < count; i++) {
        const int64_t rx = int64_t(rects[i][0]) + display->marginLeft, ry = int64_t(rects[i][1]) + display->marginTop;
        const int32_t w = rects[i][2], h = rects[i][3];
        // The window's coordinates are 16 bits: what lies beyond is not shown.
        if (w < 1 || h < 1 || rx < -32768 || ry < -32768 || rx > 32767 || ry > 32767)
            continue;
        out.push_back({short(rx), short(ry), (unsigned short)std::min(w, 65535), (unsigned short)std::min(h, 65535)});
    }
    if (out.empty())
        return;
    Region clip;
    x11MakeClipRegion(display, &clip, 0);
    x11SetForeground(x, colour);
    XFillRectangles(x->display, x->window, x->gc, out.data(), int(out.size()));
    XFlush(x->display);
    x11FreeClipRegion(x, clip);
}
}

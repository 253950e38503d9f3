// InKeyStr: a line typed by the user, echoed character by character as
// PRINT layers that move apart and together as the line is edited.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bitmap.h"
#include "display/qx_display.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "draw/fonts/qx_font.h"
#include "draw/qx_drawcmds.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/x11/x11_clipboard.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr size_t kMaxChars = 1024;
constexpr uint32_t kEventKey = 3, kEventChar = 28;
constexpr uint32_t kKeyRight = 258, kKeyLeft = 259, kKeyBackspace = 271, kKeyTab = 272, kKeyReturn = 273,
                   kKeyEnter = 274, kKeyDelete = 277;
constexpr uint32_t kControlBits = 16 | 32;

enum Filter { ALL, ALPHANUMERICAL, ALPHABETICAL, NUMERICAL, HEXNUMERICAL };

bool accepted(int filter, uint32_t c)
{
    const bool blank = c == ' ';
    const bool printable = c >= 32 && c != 127 && !(c >= 0x80 && c < 0xA0);
    const wint_t w = wint_t(c);
    switch (filter) {
    case ALL: return printable;
    case ALPHANUMERICAL: return blank || (printable && std::iswalnum(w));
    case ALPHABETICAL: return blank || (printable && std::iswalpha(w));
    case NUMERICAL: return c >= '0' && c <= '9';
    default: return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
    }
}

// One code point in the text encoding; empty when it has no form there.
std::string encode(uint32_t c, uint32_t utf8)
{
    std::string s;
    if (!utf8) {
        if (c < 256) s += char(c);
    } else if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | c >> 6), s += char(0x80 | (c & 63));
    } else if (c < 0x10000) {
        s += char(0xE0 | c >> 12), s += char(0x80 | ((c >> 6) & 63)), s += char(0x80 | (c & 63));
    } else if (c < 0x110000) {
        s += char(0xF0 | c >> 18), s += char(0x80 | ((c >> 12) & 63)), s += char(0x80 | ((c >> 6) & 63));
        s += char(0x80 | (c & 63));
    }
    return s;
}

struct TypedChar {
    std::string bytes;
    qxLayer *layer;
    int32_t width;
};

class LineInput {
public:
    LineInput(lua_State *L, qxTextCursor *c, int filter, size_t max, bool password)
        : L(L), c(c), filter(filter), max(max), password(password), startX(c->x), startY(c->y)
    {
    }

    // 0, 1 when the line ended, or an error code.
    int put(uint32_t code)
    {
        if (code == '\t') code = ' ';
        if (!accepted(filter, code)) return 0;
        if (max && chars.size() >= max) return 0;
        if (chars.size() >= kMaxChars) return 1;
        TypedChar t{encode(code, qxGetTextState()->encoding), nullptr, 0};
        if (t.bytes.empty()) return 0;
        const std::string echo = password ? std::string("*") : t.bytes;
        c->x = xAt(insert), c->y = startY;
        if (int r = qxPrintTextLayer(L, echo.data(), echo.size(), 0, &t.layer)) return r;
        t.width = c->x - xAt(insert);
        for (size_t i = insert; i < chars.size(); ++i) shift(chars[i], t.width);
        chars.insert(chars.begin() + long(insert), t);
        ++insert;
        return 0;
    }

    void erase(size_t at)
    {
        if (at >= chars.size()) return;
        const TypedChar t = chars[at];
        if (t.layer) qxRemoveLayerRecord(L, qxLayerBGPic(), t.layer, 0, nullptr);
        chars.erase(chars.begin() + long(at));
        for (size_t i = at; i < chars.size(); ++i) shift(chars[i], -t.width);
        if (insert > at) --insert;
    }

    size_t position() const { return insert; }
    void left() { insert -= insert > 0; }
    void right() { insert += insert < chars.size(); }

    // Ctrl+V: the clipboard's characters under the same rules.
    int paste()
    {
        qxClipboardData data{};
        int type = 0;
        const int r = x11GetClipboard(L, &data, &type);
        const std::string text = data.text ? data.text : "";
        qxFree(data.text);
        // A picture on the clipboard is no text to type.
        qxFreeAlphaBitMap(data.alpha);
        qxFreeMaskBitMap(data.mask);
        qxFreeBitMap(data.bitmap);
        if (r || type != 1 || text.empty()) {
            x11Beep(qxCurrentDisplay);
            return 0;
        }
        const bool utf8 = qxGetTextState()->encoding == 1;
        for (size_t i = 0; i < text.size();) {
            uint32_t code = uint8_t(text[i]);
            size_t n = 1;
            if (utf8 && code >= 0x80) {
                n = code >= 0xF0 ? 4 : code >= 0xE0 ? 3 : code >= 0xC0 ? 2 : 1;
                if (i + n > text.size() || n == 1) {
                    ++i; // a stray byte: skipped
                    continue;
                }
                code &= 0x3F >> (n - 1);
                for (size_t k = 1; k < n; ++k) code = code << 6 | (uint8_t(text[i + k]) & 63);
            }
            i += n;
            if (int e = put(code)) return e;
        }
        return 0;
    }

    // Removes the echo and the cursor box.
    void removeLayers()
    {
        for (TypedChar &t : chars)
            if (t.layer) qxRemoveLayerRecord(L, qxLayerBGPic(), t.layer, 0, nullptr), t.layer = nullptr;
        if (cursor) qxRemoveLayerRecord(L, qxLayerBGPic(), cursor, 0, nullptr), cursor = nullptr;
    }

    // The cursor: a box layer as wide as the system scale in whole pixels
    // and as high as the font, in the font colour.
    int showCursor()
    {
        double scale = 1.0;
        qxGetScaleFactor(&scale);
        const qxTextStyle &b = qxGetTextState()->block;
        const int32_t w = std::max(1, int32_t(scale)), h = b.font && b.font->height > 0 ? b.font->height : 8;
        qxBGPic *bgpic = qxLayerBGPic();
        const int32_t before = bgpic ? qxCountLayers(bgpic) : 0;
        if (int r = qxDrawBox(L, nullptr, startX, startY, w, h, b.colour, nullptr, nullptr, nullptr)) return r;
        if (bgpic && qxCountLayers(bgpic) > before) cursor = qxGetLayerByIndex(bgpic, qxCountLayers(bgpic));
        cursorX = startX;
        return 0;
    }

    // Puts the cursor box behind the character before the insert position.
    void moveCursor()
    {
        const int32_t x = xAt(insert);
        if (cursor && x != cursorX) qxMoveLayer(L, cursor, nullptr, x - cursorX, 0, 0, 1 | 2, nullptr);
        cursorX = x;
    }

    std::string text() const
    {
        std::string s;
        for (const TypedChar &t : chars) s += t.bytes;
        return s;
    }

    std::string echo() const { return password ? std::string(chars.size(), '*') : text(); }

private:
    lua_State *L;
    qxTextCursor *c;
    int filter;
    size_t max;
    bool password;
    std::vector<TypedChar> chars;
    size_t insert = 0;
    qxLayer *cursor = nullptr;
    int32_t cursorX = 0;

    int32_t xAt(size_t n) const
    {
        int32_t x = startX;
        for (size_t i = 0; i < n && i < chars.size(); ++i) x += chars[i].width;
        return x;
    }

    void shift(TypedChar &t, int32_t dx)
    {
        if (t.layer && dx) qxMoveLayer(L, t.layer, nullptr, dx, 0, 0, 1 | 2, nullptr);
    }

public:
    const int32_t startX, startY;
};

int refused(const qxDisplay *d)
{
    if (d->targetType == QX_OUT_BRUSH) {
        if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
        return qxCurrentOutput && qxCurrentOutput->selectedType == QX_TYPE_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    }
    if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
    if (d->targetType == QX_OUT_BGPIC) return ERR_SELECTBG;
    if (d->targetType == QX_OUT_MASK) return ERR_SELECTMASK;
    if (d->targetType == QX_OUT_ALPHA) return ERR_SELECTALPHACHANNEL;
    if (d->refreshMode) return ERR_BEGINREFRESH;
    return 0;
}

// The next queued event of the display, waiting for one; 0 or an error.
int nextEvent(lua_State *L, qxDisplay *d, qxEventCopy *e)
{
    for (;;) {
        if (qxLockEventQueue() == 0) {
            const bool got = qxPeekEvent(L, 0, e, 1) != 0;
            if (got) qxFlushEvents(L, 0, 0);
            qxUnlockEventQueue();
            if (got) {
                if (e->type >= QX_FIRST_CUSTOM_EVENT) {
                    if (qxFreeCustomEventData) qxFreeCustomEventData(e->type, e->payload);
                    else std::free(e->payload);
                } else {
                    std::free(e->payload);
                }
                e->payload = nullptr;
                if (e->display == d) return 0;
                continue;
            }
        }
        int out = 0, error = 0;
        if (int r = qxWaitEvents(L, 1, 0, &out)) return r;
        if (qxPollEvents(L, 2, 0, &error)) return error ? error : ERR_USERABORT;
    }
}

} // namespace

extern "C" int qxCmdInKeyStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    const int filter = luaL_checkint(L, 1);
    const int max = lua_gettop(L) >= 2 && !lua_isnil(L, 2) ? luaL_checkint(L, 2) : 0;
    const bool password = lua_gettop(L) >= 3 && lua_toboolean(L, 3) && !(lua_isnumber(L, 3) && lua_tonumber(L, 3) == 0);
    const bool cursor = lua_gettop(L) >= 4 && lua_toboolean(L, 4) && !(lua_isnumber(L, 4) && lua_tonumber(L, 4) == 0);
    if (filter < ALL || filter > HEXNUMERICAL || max < 0) return ERR_WRONGUSAGE;
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    if (int r = refused(d)) return r;
    qxTextCursor *c = qxCurrentTextCursor();
    if (!c) return ERR_MEM;
    // Layers for the echo; what the display shows lies below them. Shown
    // sprites already keep that picture (without themselves): it stays.
    const uint32_t layersWere = d->layersEnabled;
    qxBGPic *bgpic = d->bgpic;
    const bool ownBackground = !layersWere && bgpic && qxLayerBackground(d, bgpic) == bgpic->bitmap;
    if (ownBackground) {
        qxBitMap *shown = qxDisplayWorkBitmap(d, 1);
        qxBitMap *bg = shown ? qxAllocBitMap(uint32_t(bgpic->width), uint32_t(bgpic->height), 0, nullptr) : nullptr;
        if (shown && !bg) return ERR_BITMAP;
        if (bg) {
            qxBltBitMapDirect(shown, 0, 0, bg, 0, 0, bgpic->width, bgpic->height);
            qxSetLayerBackground(d, bgpic, bg);
        }
    }
    d->layersEnabled = 1;
    const int32_t rightWas = c->right;
    c->right = 32768;
    LineInput line(L, c, filter, size_t(max), password);
    int r = cursor ? line.showCursor() : 0;
    for (bool done = false; !done && !r; line.moveCursor()) {
        qxEventCopy e;
        if ((r = nextEvent(L, d, &e))) break;
        if (e.type == kEventChar) {
            const int p = line.put(e.key);
            done = p == 1, r = p > 1 ? p : 0;
            continue;
        }
        if (e.type != kEventKey || !e.pressed) continue;
        if ((e.key == 'v' || e.key == 'V') && (qxModifierBits(d) & kControlBits)) {
            const int p = line.paste();
            done = p == 1, r = p > 1 ? p : 0;
        } else if (e.key == kKeyTab) {
            const int p = line.put(' ');
            done = p == 1, r = p > 1 ? p : 0;
        } else if (e.key == kKeyLeft) {
            line.left();
        } else if (e.key == kKeyRight) {
            line.right();
        } else if (e.key == kKeyBackspace) {
            if (line.position() > 0) {
                line.left();
                line.erase(line.position());
            }
        } else if (e.key == kKeyDelete) {
            line.erase(line.position());
        } else if (e.key == kKeyReturn || e.key == kKeyEnter) {
            done = true;
        }
    }
    line.removeLayers();
    d->layersEnabled = layersWere;
    c->right = rightWas;
    c->x = line.startX, c->y = line.startY;
    qxStoreTextCursor(c);
    const std::string text = line.text();
    if (!r) {
        const std::string echo = line.echo() + "\n";
        r = qxPrintText(L, echo.data(), echo.size(), 0);
    }
    if (ownBackground) qxSetLayerBackground(d, bgpic, nullptr);
    if (r) return r;
    lua_pushlstring(L, text.data(), text.size());
    return 1;
}

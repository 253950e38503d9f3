// Layout of tagged text into runs, line breaking and alignment, and the
// drawing of the runs with underline, shadow and edge into one image.
#include <algorithm>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/runtime/qx_options.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

struct Segment {
    std::string text;
    qxTextStyle block;
};

// A word (or, with the space flag, a stretch of spaces) in reading order.
struct Item {
    enum Kind { WORD, SPACES, NEWLINE, TAB } kind;
    std::vector<Segment> segments;
};

struct Run {
    std::string text;
    qxTextStyle block;
    int32_t x, y;
    bool wordStart;
    qxRunExtent ext;
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The rows a measured run inks, from the top of its line (end exclusive):
// tall capitals rise above the line box, some marks fall below it.
void inkRows(const qxRunExtent &e, const qxFontHandle *font, int32_t *top, int32_t *bottom)
{
    const int32_t base = font ? font->baseline : 0;
    *top = e.maxY > e.minY ? base + e.minY : 0;
    *bottom = e.maxY > e.minY ? base + e.maxY : 0;
}

// Tag values are 32-bit numbers or colours; anything wider is refused.
bool fits(double v) { return v >= -2147483648.0 && v < 4294967296.0; }

class TagParser {
public:
    TagParser(lua_State *L, const char *t, size_t n, const qxTextStyle &base) : L(L), p(t), end(t + n), cur(base) {}

    // Splits the text into words, spaces and line feeds with their styles.
    int parse(std::vector<Item> &items, int tags, int print)
    {
        bool inWord = false;
        auto append = [&](char c) {
            if (!inWord) {
                items.push_back({Item::WORD, {}});
                inWord = true;
            }
            auto &segs = items.back().segments;
            if (segs.empty() || memcmp(&segs.back().block, &cur, sizeof cur) != 0) segs.push_back({"", cur});
            segs.back().text += c;
        };
        while (p < end) {
            const char c = *p;
            if (c == '\r') {
                ++p;
                continue;
            }
            if (c == '\n' || c == ' ' || c == '\t') {
                inWord = false;
                if (c == '\n') items.push_back({Item::NEWLINE, {}});
                else if (c == '\t' && print) items.push_back({Item::TAB, {}});
                else {
                    // Tabs count as spaces outside Print.
                    if (items.empty() || items.back().kind != Item::SPACES) items.push_back({Item::SPACES, {}});
                    auto &segs = items.back().segments;
                    if (segs.empty() || memcmp(&segs.back().block, &cur, sizeof cur) != 0) segs.push_back({"", cur});
                    segs.back().text += ' ';
                }
                ++p;
                continue;
            }
            if (c == '[' || c == ']') {
                if (p + 1 < end && p[1] == c) {
                    append(c);
                    p += 2;
                    continue;
                }
                if (!tags) {
                    append(c);
                    ++p;
                    continue;
                }
                if (c == ']') return ERR_TEXTSYNTAX;
                ++p;
                if (int r = tag()) return r;
                continue;
            }
            append(c);
            ++p;
        }
        return 0;
    }

private:
    lua_State *L;
    const char *p, *end;
    qxTextStyle cur;
    std::vector<uint32_t> colours; // grows with every push: tab-led tags cannot overflow it

    void skipBlanks()
    {
        while (p < end && (isBlank(*p) || *p == '\n' || *p == '\r')) ++p;
    }

    bool prefix(const char *name, size_t n)
    {
        if (size_t(end - p) < n || strncasecmp(p, name, n) != 0) return false;
        p += n;
        return true;
    }

    int value(int32_t *out)
    {
        skipBlanks();
        if (p >= end || *p == '"') return ERR_VALUEEXPECTED;
        char buffer[128];
        size_t n = 0;
        while (p + n < end && n + 1 < sizeof buffer && !isBlank(p[n]) && p[n] != ',' && p[n] != ']') ++n;
        memcpy(buffer, p, n);
        buffer[n] = 0;
        if (buffer[0] == '#') {
            if (!L) return ERR_VALUEEXPECTED;
            int consumed = 0;
            const char *str = nullptr;
            double num = 0;
            if (int r = qxParseConstantName(L, buffer, &consumed, &str, &num)) return r;
            if (str) return ERR_VALUEEXPECTED;
            if (!fits(num)) return ERR_WRONGUSAGE;
            *out = int32_t(int64_t(num));
            p += std::min<size_t>(n, size_t(consumed > 0 ? consumed - 1 : n));
            return 0;
        }
        int consumed = 0, error = 0;
        double v = qxStrToNumber(buffer, &consumed, &error);
        if (error || consumed <= 0) return ERR_VALUEEXPECTED;
        if (!fits(v)) return ERR_WRONGUSAGE;
        *out = int32_t(int64_t(v));
        p += consumed;
        return 0;
    }

    // Up to max comma-separated values after "="; returns how many.
    int values(int32_t *out, int max, int *count)
    {
        *count = 0;
        skipBlanks();
        if (p >= end || *p != '=') return 0;
        ++p;
        for (;;) {
            if (int r = value(&out[*count])) return r;
            ++*count;
            skipBlanks();
            if (*count >= max || p >= end || *p != ',') return 0;
            ++p;
        }
    }

    int tag()
    {
        skipBlanks();
        bool closing = false;
        if (p < end && *p == '/') {
            closing = true;
            ++p;
            skipBlanks();
        }
        int32_t v[3];
        int n = 0;
        if (p < end && strchr("bBiIuU", *p) && (p + 1 >= end || isBlank(p[1]) || p[1] == ']')) {
            const char c = char(*p++ | 0x20);
            const uint32_t flag = c == 'b' ? QX_TS_BOLD : c == 'i' ? QX_TS_ITALIC : QX_TS_UNDERLINED;
            if (closing) cur.style &= ~flag;
            else cur.style = (cur.style & ~QX_TS_NORMAL) | flag;
        } else if (prefix("color", 5)) {
            if (closing) {
                if (colours.empty()) return ERR_TEXTSYNTAX;
                cur.colour = colours.back();
                colours.pop_back();
            } else {
                if (int r = values(v, 1, &n)) return r;
                if (!n) return ERR_TEXTARG;
                colours.push_back(cur.colour);
                cur.colour = uint32_t(v[0]);
            }
        } else if (prefix("shadow", 6)) {
            if (closing) cur.style &= ~QX_TS_SHADOW;
            else {
                if (int r = values(v, 3, &n)) return r;
                if (n >= 2 && (v[1] < 1 || v[1] > 64)) return ERR_WRONGUSAGE;
                if (n >= 1) cur.shadowColour = uint32_t(v[0]);
                if (n >= 2) cur.shadowSize = v[1];
                if (n >= 3) cur.shadowDir = v[2] & 255;
                cur.style = (cur.style & ~QX_TS_NORMAL) | QX_TS_SHADOW;
            }
        } else if (prefix("edge", 4)) {
            if (closing) cur.style &= ~QX_TS_EDGE;
            else {
                if (int r = values(v, 2, &n)) return r;
                if (n >= 2 && (v[1] < 1 || v[1] > 8)) return ERR_WRONGUSAGE;
                if (n >= 1) cur.edgeColour = uint32_t(v[0]);
                if (n >= 2) cur.edgeSize = v[1];
                cur.style = (cur.style & ~QX_TS_NORMAL) | QX_TS_EDGE;
            }
        } else {
            return ERR_UNKTEXTFMT;
        }
        if (!(cur.style & ~QX_TS_NORMAL)) cur.style = QX_TS_NORMAL;
        skipBlanks();
        if (p >= end || *p != ']') return ERR_SQBRACKETCLOSE;
        ++p;
        return 0;
    }
};

// Offset of a shadow direction.
void shadowOffset(const qxTextStyle &b, int32_t *dx, int32_t *dy)
{
    static const int8_t sx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, sy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
    const int dir = b.shadowDir >= 0 && b.shadowDir <= 7 ? b.shadowDir : 3;
    *dx = sx[dir] * b.shadowSize, *dy = sy[dir] * b.shadowSize;
}

struct Canvas {
    int32_t w, h;
    uint32_t *pixels;
    std::vector<uint8_t> cover, grown;
    std::vector<uint32_t> ink; // colour fonts: the glyphs' own colours under the coverage

    // Straight-alpha "over" of one colour through a coverage box, moved by
    // dx, dy; the box is clipped once so that the rows run without checks.
    void paint(const std::vector<uint8_t> &cov, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t dx,
               int32_t dy, uint32_t colour)
    {
        x0 = std::max(x0, -dx), y0 = std::max(y0, -dy);
        x1 = std::min(x1, w - dx), y1 = std::min(y1, h - dy);
        const uint32_t opacity = 255 - (colour >> 24);
        const uint32_t rgb = colour & 0xFFFFFF;
        for (int32_t y = y0; y < y1; ++y) {
            const uint8_t *src = cov.data() + size_t(y) * w;
            uint32_t *dst = pixels + size_t(y + dy) * w + dx;
            // Glyphs of one colour rarely land on ink already drawn: such a
            // row is a select the compiler vectorises. Clear pixels are 0.
            uint32_t overlap = 0;
            for (int32_t x = x0; x < x1; ++x) overlap |= uint32_t(src[x] != 0) & uint32_t(dst[x] > 0xFFFFFF);
            if (!overlap) {
                if (opacity == 255)
                    for (int32_t x = x0; x < x1; ++x) dst[x] = src[x] ? (uint32_t(src[x]) << 24 | rgb) : dst[x];
                else
                    for (int32_t x = x0; x < x1; ++x) {
                        const uint32_t a = src[x] * opacity / 255;
                        dst[x] = a ? (a << 24 | rgb) : dst[x];
                    }
                continue;
            }
            for (int32_t x = x0; x < x1; ++x) {
                uint32_t a = src[x];
                if (!a) continue;
                if (opacity != 255) a = a * opacity / 255;
                uint32_t &d = dst[x];
                const uint32_t da = d >> 24;
                if (a == 255 || !da) {
                    d = a << 24 | rgb;
                    continue;
                }
                const uint32_t keep = da * (255 - a) / 255, oa = a + keep;
                uint32_t out = oa << 24;
                for (int sh = 0; sh < 24; sh += 8) out |= ((((rgb >> sh) & 255) * a + ((d >> sh) & 255) * keep) / oa) << sh;
                d = out;
            }
        }
    }
};

// Plain text (one opaque colour, NORMAL or ANTIALIAS, no tags, tabs,
// wrapping or alignment) needs no word list: its lines are cut into the
// same space and word runs, their glyphs go into one coverage plane, and
// one pass colours it. Any overlap of runs would need the general
// painter; for plain text the runs stand apart, so the image is the same.
bool isPlain(const qxTextRequest *rq)
{
    const uint32_t s = rq->block.style;
    if ((s & ~(QX_TS_NORMAL | QX_TS_ANTIALIAS)) || (rq->block.colour >> 24) || rq->print ||
        rq->align != QX_ALIGN_LEFT || rq->wrap > 0 || rq->breakCount > 0 || !rq->length || !rq->block.font)
        return false;
    for (size_t i = 0; i < rq->length; ++i) {
        const char c = rq->text[i];
        if (c == '[' || c == ']' || c == '\t') return false;
    }
    return true;
}

struct PlainRun {
    size_t start, length;
    int32_t x, y;
    qxRunExtent ext;
};

// 1 when done (r holds the result), 0 to take the general path.
int layoutPlain(const qxTextRequest *rq, qxTextImage *out, int *r)
{
    const char *t = rq->text;
    const size_t n = rq->length;
    const int32_t lineHeight = rq->block.font->height;
    PlainRun stack[64];
    std::vector<PlainRun> heap;
    PlainRun *runs = stack;
    size_t count = 0, capacity = 64;
    int32_t x = 0, y = 0;
    for (size_t i = 0; i < n;) {
        const char c = t[i];
        if (c == '\r') {
            ++i;
            continue;
        }
        if (c == '\n') {
            x = 0, y += lineHeight, ++i;
            continue;
        }
        // A run of spaces or of other characters (CR breaks neither).
        const bool space = c == ' ';
        size_t j = i + 1;
        while (j < n && t[j] != '\n' && (t[j] == ' ') == space && t[j] != '\r') ++j;
        if (j < n && t[j] == '\r') return 0; // a CR inside a word joins its halves
        if (count == capacity) {
            if (heap.empty()) heap.assign(stack, stack + count);
            heap.resize(count * 2);
            runs = heap.data(), capacity = heap.size();
        }
        PlainRun &run = runs[count++];
        run.start = i, run.length = j - i, run.x = x, run.y = y;
        if ((*r = qxMeasureRun(&rq->block, t + i, j - i, rq->encoding, &run.ext))) return 1;
        x += run.ext.width;
        i = j;
    }
    if (!count) return 0;
    int32_t left = 0, right = 0, bottom = 0, top = 0, below = 0;
    for (size_t i = 0; i < count; ++i) {
        const PlainRun &run = runs[i];
        left = std::min(left, std::min(0, run.ext.minX) + run.x);
        right = std::max(right, run.x + run.ext.pixelWidth);
        bottom = std::max(bottom, run.y);
    }
    // Ink above the first line or below the last goes into the picture.
    for (size_t i = 0; i < count; ++i) {
        int32_t t0, t1;
        inkRows(runs[i].ext, rq->block.font, &t0, &t1);
        top = std::min(top, runs[i].y + t0);
        below = std::max(below, runs[i].y + t1 - (bottom + lineHeight + 1));
    }
    const int32_t width = std::max(right - left, 1), height = bottom + lineHeight + 1 + below - top;
    size_t area = 0;
    if (!qxMulSize(size_t(width), size_t(height), &area) || area > (size_t(1) << 28)) {
        *r = ERR_BITMAP;
        return 1;
    }
    auto *pixels = static_cast<uint32_t *>(qxAlloc(area * 4, 0));
    auto *cover = static_cast<uint8_t *>(qxAlloc(area, 1));
    if (!pixels || !cover) {
        qxFree(pixels), qxFree(cover);
        *r = ERR_MEM;
        return 1;
    }
    const bool colourGlyphs = rq->block.font && rq->block.font->kind == QX_FONT_COLORBITMAP;
    for (size_t i = 0; i < count; ++i) {
        const PlainRun &run = runs[i];
        if (t[run.start] == ' ') continue; // blanks leave no ink
        qxDrawRunText(rq->block.font, colourGlyphs ? pixels : nullptr, cover, width, height, run.x - left,
                      run.y - top, t + run.start, run.length, rq->block.style, rq->encoding);
    }
    const uint32_t rgb = rq->block.colour & 0xFFFFFF;
    if (colourGlyphs) // the glyphs left their own colours under the coverage
        for (size_t i = 0; i < area; ++i) pixels[i] = cover[i] ? (uint32_t(cover[i]) << 24 | (pixels[i] & 0xFFFFFF)) : 0;
    else
        for (size_t i = 0; i < area; ++i) pixels[i] = cover[i] ? (uint32_t(cover[i]) << 24 | rgb) : 0;
    qxFree(cover);
    out->pixels = pixels;
    out->width = width, out->height = height;
    out->originX = left, out->originY = top;
    out->endX = x, out->endY = y;
    out->needsAlpha = (rq->block.style & QX_TS_ANTIALIAS) || colourGlyphs;
    *r = 0;
    return 1;
}

} // namespace

namespace {

// A recorded table as the image hands it out; false when out of memory.
bool keepTable(const std::vector<int32_t> &table, int32_t **out, int32_t *count)
{
    *out = nullptr, *count = 0;
    if (table.empty()) return true;
    *out = static_cast<int32_t *>(qxAlloc(table.size() * sizeof(int32_t), 0));
    if (!*out) return false;
    std::copy(table.begin(), table.end(), *out);
    *count = int32_t(table.size());
    return true;
}

} // namespace

extern "C" {

void qxFreeTextImage(qxTextImage *image)
{
    if (!image) return;
    qxFree(image->pixels), image->pixels = nullptr;
    qxFree(image->breaks), image->breaks = nullptr, image->breakCount = 0;
    qxFree(image->tabPicks), image->tabPicks = nullptr, image->tabPickCount = 0;
}


int qxCheckTextRequest(const qxTextRequest *rq)
{
    const qxFontHandle *font = rq->block.font;
    if ((rq->block.style & QX_TS_ANTIALIAS) && font && font->kind != QX_FONT_TRUETYPE) return ERR_ANTIALIAS;
    size_t count = 0;
    if (rq->encoding == 1 && !qxUtf8Scan(rq->text, rq->length, &count)) return ERR_INVALIDUTF8;
    return 0;
}

int qxIsPlainText(const qxTextRequest *rq) { return isPlain(rq); }

int qxLayoutText(const qxTextRequest *rq, qxTextImage *out) { return qxLayoutTextL(nullptr, rq, out); }

int qxLayoutTextL(lua_State *L, const qxTextRequest *rq, qxTextImage *out)
{
    *out = qxTextImage{};
    qxFontHandle *font = rq->block.font;
    if (int r = qxCheckTextRequest(rq)) return r;
    if (int r = 0; isPlain(rq) && layoutPlain(rq, out, &r)) return r;
    const char *text = rq->length ? rq->text : " ";
    const size_t length = rq->length ? rq->length : 1;
    std::vector<Item> items;
    TagParser parser(L, text, length, rq->block);
    if (int r = parser.parse(items, rq->tags, rq->print)) return r;

    const int32_t lineHeight = font ? font->height : 8;
    const bool justified = rq->align == QX_ALIGN_JUSTIFIED;
    qxRunExtent spaceExt;
    if (int r = qxMeasureRun(&rq->block, " ", 1, rq->encoding, &spaceExt)) return r;

    // Lines of runs.
    std::vector<Run> runs;
    int32_t x = rq->print ? rq->startX : 0, y = 0;
    size_t lineFirst = 0; // first run of the current line
    bool wordStart = false;
    int32_t wordIndex = -1, nextBreak = 0, nextPick = 0;
    std::vector<int32_t> breaks, tabPicks; // what this rendering decided
    for (const Item &item : items) {
        if (item.kind == Item::NEWLINE) {
            x = 0, y += lineHeight, lineFirst = runs.size(), wordStart = false;
            continue;
        }
        if (item.kind == Item::TAB) {
            int32_t pick = -1;
            if (rq->tabPickCount > 0) {
                // The decisions of the first rendering, while they last.
                pick = nextPick < rq->tabPickCount ? rq->tabPicks[nextPick++] : -1;
                if (pick >= rq->tabCount) pick = -1;
            } else {
                const int32_t *stop = std::upper_bound(rq->tabs, rq->tabs + rq->tabCount, x + rq->leftMargin);
                if (stop != rq->tabs + rq->tabCount && (rq->wrap <= 0 || *stop < rq->wrap))
                    pick = int32_t(stop - rq->tabs);
                tabPicks.push_back(pick);
            }
            if (pick >= 0) x = rq->tabs[pick] - rq->leftMargin;
            else x = 0, y += lineHeight, lineFirst = runs.size();
            wordStart = true;
            continue;
        }
        if (item.kind == Item::SPACES) {
            for (const Segment &s : item.segments) {
                if (justified) {
                    x += spaceExt.width * int32_t(s.text.size());
                    continue;
                }
                Run r{s.text, s.block, x, y, false, {}};
                if (int e = qxMeasureRun(&r.block, r.text.data(), r.text.size(), rq->encoding, &r.ext)) return e;
                x += r.ext.width;
                runs.push_back(r);
            }
            wordStart = true;
            continue;
        }
        std::vector<Run> word;
        int32_t wx = 0, right = 0;
        for (const Segment &s : item.segments) {
            Run r{s.text, s.block, wx, y, false, {}};
            if (int e = qxMeasureRun(&r.block, r.text.data(), r.text.size(), rq->encoding, &r.ext)) return e;
            right = std::max(right, wx + r.ext.maxX + r.ext.right);
            wx += r.ext.width;
            word.push_back(r);
        }
        word.front().wordStart = wordStart;
        // A word alone on its line never moves; others go to the next line
        // when they pass the wrap width.
        bool alone = true;
        for (size_t i = lineFirst; i < runs.size(); ++i)
            if (runs[i].text.find_first_not_of(' ') != std::string::npos) alone = false;
        ++wordIndex;
        bool breakHere = false;
        if (rq->breakCount > 0) {
            while (nextBreak < rq->breakCount && rq->breaks[nextBreak] < wordIndex) ++nextBreak;
            breakHere = nextBreak < rq->breakCount && rq->breaks[nextBreak] == wordIndex;
        } else {
            breakHere = rq->wrap > 0 && !alone && x + right > rq->wrap;
            if (breakHere) breaks.push_back(wordIndex);
        }
        if (breakHere) {
            x = 0, y += lineHeight, lineFirst = runs.size();
            word.front().wordStart = false;
        }
        for (Run &r : word) r.x += x, r.y = y, runs.push_back(r);
        x += wx;
        wordStart = false;
    }
    // Trailing spaces of every line's last run.
    const bool keepSpaces = rq->align == QX_ALIGN_LEFT;
    for (size_t i = 0; i < runs.size();) {
        const bool last = i + 1 == runs.size() || runs[i + 1].y != runs[i].y;
        Run &r = runs[i];
        if (last && !(keepSpaces && !(r.block.style & QX_TS_UNDERLINED))) {
            size_t end = r.text.find_last_not_of(' ');
            if (end == std::string::npos) {
                runs.erase(runs.begin() + long(i));
                continue;
            }
            if (end + 1 != r.text.size()) {
                r.text.resize(end + 1);
                if (int e = qxMeasureRun(&r.block, r.text.data(), r.text.size(), rq->encoding, &r.ext)) return e;
            }
        }
        ++i;
    }

    // Extents.
    int32_t L0 = 0, T = 0, right = 0, B = 0, Y = 0;
    for (const Run &r : runs) {
        L0 = std::min(L0, std::min(0, r.ext.minX) + r.x + r.ext.left);
        right = std::max(right, r.x + r.ext.pixelWidth + r.ext.right);
        Y = std::max(Y, r.y);
    }
    // The top and bottom margins take the ink of tall glyphs above the
    // first line and below the last, so that no glyph is cut.
    for (const Run &r : runs) {
        int32_t t0, t1;
        inkRows(r.ext, r.block.font, &t0, &t1);
        T = std::min(T, r.ext.top + std::min(0, r.y + t0));
        B = std::max(B, r.ext.bottom + std::max(0, r.y + t1 - (Y + lineHeight + 1)));
    }
    int32_t width = right - L0;
    if (rq->wrap > 0) {
        int32_t limit = rq->wrap - L0;
        // Lines of several words fitted the wrap width when their breaks were
        // decided; drawn at another scale they may pass it and stay whole.
        for (size_t first = 0; rq->breaksKept && first < runs.size();) {
            size_t last = first;
            bool words = false;
            int32_t lineRight = 0;
            for (; last < runs.size() && runs[last].y == runs[first].y; ++last) {
                words |= last != first && runs[last].wordStart;
                lineRight = std::max(lineRight, runs[last].x + runs[last].ext.pixelWidth + runs[last].ext.right);
            }
            if (words) limit = std::max(limit, lineRight - L0);
            first = last;
        }
        width = std::min(width, limit);
    }
    if (runs.empty()) width = 1;
    width = std::max(width, 1);
    const int32_t height = runs.empty() ? lineHeight : Y + lineHeight + 1 + B - T;

    // Alignment.
    if (rq->align != QX_ALIGN_LEFT && !runs.empty()) {
        int32_t R = 0;
        for (const Run &r : runs) R = std::max(R, r.x + r.ext.maxX + 1);
        // Capped at the block's width: a cap one column less would move the
        // longest line left and cut its first column off.
        R = std::min(R, width);
        for (size_t first = 0; first < runs.size();) {
            size_t last = first;
            while (last + 1 < runs.size() && runs[last + 1].y == runs[first].y) ++last;
            const int32_t E = runs[last].x + runs[last].ext.maxX;
            if (rq->align == QX_ALIGN_CENTER || rq->align == QX_ALIGN_RIGHT) {
                const int32_t shift = rq->align == QX_ALIGN_CENTER ? (R - E - 1) / 2 : R - E - 1;
                for (size_t i = first; i <= last; ++i) runs[i].x += shift;
            } else {
                int32_t F = R - E - 1, starts = 0, gaps = 0;
                for (size_t i = first; i <= last; ++i)
                    if (runs[i].wordStart || i == first) ++starts, gaps += i != first && runs[i].wordStart;
                const bool followed = last + 1 < runs.size() && runs[last + 1].y == runs[first].y + lineHeight;
                if (F > 0 && gaps && (followed || F / starts <= 2 * spaceExt.width)) {
                    while (F > 0)
                        for (size_t i = first + 1; i <= last && F > 0; ++i)
                            if (runs[i].wordStart) {
                                for (size_t j = i; j <= last; ++j) runs[j].x += 1;
                                --F;
                            }
                }
            }
            first = last + 1;
        }
    }

    size_t area = 0;
    if (!qxMulSize(size_t(width), size_t(height), &area) || area > (size_t(1) << 28)) return ERR_BITMAP;
    Canvas c{width, height, static_cast<uint32_t *>(qxAlloc(area * 4, 1)), {}, {}, {}};
    if (!c.pixels) return ERR_MEM;
    try {
        c.cover.assign(area, 0);
    } catch (...) {
        qxFree(c.pixels);
        return ERR_MEM;
    }

    auto drawCoverage = [&](const Run &r, size_t index, int32_t *bx0, int32_t *by0, int32_t *bx1, int32_t *by1) {
        const int32_t ox = r.x - L0, oy = r.y - T;
        *bx0 = std::max(0, ox + std::min(0, r.ext.minX) - 1);
        *bx1 = std::min(width, ox + std::max(r.ext.pixelWidth, r.ext.maxX + 1) + 2);
        int32_t t0, t1;
        inkRows(r.ext, r.block.font, &t0, &t1);
        *by0 = std::max(0, oy + std::min(0, t0)), *by1 = std::min(height, oy + std::max(lineHeight, t1));
        for (int32_t yy = *by0; yy < *by1; ++yy) memset(&c.cover[size_t(yy) * width + *bx0], 0, size_t(std::max(0, *bx1 - *bx0)));
        uint32_t *ink = nullptr;
        if (font && r.block.font && r.block.font->kind == QX_FONT_COLORBITMAP) {
            if (c.ink.size() != area) c.ink.assign(area, 0);
            ink = c.ink.data();
        }
        qxDrawRunText(font ? r.block.font : nullptr, ink, c.cover.data(), width, height, ox, oy, r.text.data(),
                      r.text.size(), r.block.style, rq->encoding);
        // Italic without an italic face (bitmap fonts): rows sheared one pixel
        // per two rows, right above the baseline and left below it.
        qxFontHandle *rf = r.block.font;
        if ((r.block.style & QX_TS_ITALIC) && rf && rf->kind != QX_FONT_TRUETYPE && !qxFontHasNativeStyle(rf, r.block.style)) {
            const int32_t baseRow = rf->baseline;
            *bx0 = std::max(0, *bx0 - lineHeight / 2 - 1);
            *bx1 = std::min(width, *bx1 + lineHeight / 2 + 1);
            // A run cut off by the wrap width may have no columns left.
            // A colour font's own colours move with their coverage.
            auto shear = [&](auto *row, int32_t shift) {
                const int32_t n = *bx1 - *bx0;
                if (shift > 0) std::memmove(row + *bx0 + shift, row + *bx0, sizeof *row * size_t(std::max(0, n - shift)));
                else std::memmove(row + *bx0, row + *bx0 - shift, sizeof *row * size_t(std::max(0, n + shift)));
                const int32_t clear0 = shift > 0 ? *bx0 : std::max(*bx0, *bx1 + shift);
                const int32_t clear1 = shift > 0 ? std::min(*bx1, *bx0 + shift) : *bx1;
                for (int32_t i = clear0; i < clear1; ++i) row[i] = 0;
            };
            for (int32_t yy = *by0; yy < *by1 && *bx1 > *bx0; ++yy) {
                const int32_t shift = (baseRow - (yy - oy)) / 2;
                if (!shift) continue;
                shear(&c.cover[size_t(yy) * width], shift);
                if (ink) shear(ink + size_t(yy) * width, shift);
            }
        }
        if ((r.block.style & QX_TS_UNDERLINED) && font) {
            const int32_t d = lineHeight - font->baseline, t = std::max(1, d / 3);
            // TrueType baselines count the rows above the baseline, bitmap fonts name the row.
            const int32_t baseRow = font->kind == QX_FONT_TRUETYPE ? font->baseline - 1 : font->baseline;
            const int32_t top = oy + baseRow + (d == 0 ? 0 : d == 1 ? 1 : t);
            int32_t uw = r.ext.width;
            // Justified text keeps its underline across the gap to an underlined neighbour.
            if (justified && index + 1 < runs.size() && runs[index + 1].y == r.y &&
                (runs[index + 1].block.style & QX_TS_UNDERLINED))
                uw = runs[index + 1].x - r.x;
            // A colour font's bar takes the text colour.
            for (int32_t yy = std::max(0, top); yy < std::min(height, top + t); ++yy)
                for (int32_t xx = std::max(0, ox); xx < std::min(width, ox + uw); ++xx) {
                    c.cover[size_t(yy) * width + xx] = 255;
                    if (ink) ink[size_t(yy) * width + xx] = r.block.colour;
                }
            *by1 = std::min(height, std::max(*by1, top + t));
            *bx1 = std::min(width, std::max(*bx1, ox + uw));
        }
    };
    // Square dilation of the coverage box by e.
    auto dilate = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t e, int32_t *gx0, int32_t *gy0,
                      int32_t *gx1, int32_t *gy1) {
        *gx0 = std::max(0, x0 - e), *gy0 = std::max(0, y0 - e);
        *gx1 = std::min(width, x1 + e), *gy1 = std::min(height, y1 + e);
        if (c.grown.size() != area) c.grown.assign(area, 0);
        for (int32_t yy = *gy0; yy < *gy1; ++yy)
            for (int32_t xx = *gx0; xx < *gx1; ++xx) {
                uint8_t m = 0;
                for (int32_t sy = std::max(y0, yy - e); sy <= std::min(y1 - 1, yy + e); ++sy)
                    for (int32_t sx = std::max(x0, xx - e); sx <= std::min(x1 - 1, xx + e); ++sx)
                        m = std::max(m, c.cover[size_t(sy) * width + sx]);
                c.grown[size_t(yy) * width + xx] = m;
            }
    };
    // Shadows under everything, then edges, then the text.
    for (int pass = 0; pass < 3; ++pass)
        for (size_t i = 0; i < runs.size(); ++i) {
            const Run &r = runs[i];
            const uint32_t s = r.block.style;
            if ((pass == 0 && !(s & QX_TS_SHADOW)) || (pass == 1 && !(s & QX_TS_EDGE))) continue;
            // Blanks leave no ink unless underlined.
            if (!(s & QX_TS_UNDERLINED) && r.text.find_first_not_of(' ') == std::string::npos) continue;
            int32_t x0, y0, x1, y1;
            drawCoverage(r, i, &x0, &y0, &x1, &y1);
            if (x1 <= x0 || y1 <= y0) continue;
            if (pass == 2) {
                if (font && r.block.font && r.block.font->kind == QX_FONT_COLORBITMAP) {
                    // The glyphs keep their own colours; the font colour
                    // only lends its transparency.
                    const uint32_t opacity = 255 - (r.block.colour >> 24);
                    for (int32_t yy = y0; yy < y1; ++yy)
                        for (int32_t xx = x0; xx < x1; ++xx) {
                            const size_t k = size_t(yy) * width + xx;
                            const uint32_t a = c.cover[k] * opacity / 255;
                            if (a) c.pixels[k] = a << 24 | (c.ink[k] & 0xFFFFFF);
                        }
                    continue;
                }
                c.paint(c.cover, x0, y0, x1, y1, 0, 0, r.block.colour);
                continue;
            }
            int32_t dx = 0, dy = 0;
            if (pass == 0) shadowOffset(r.block, &dx, &dy);
            if (s & QX_TS_EDGE) {
                int32_t gx0, gy0, gx1, gy1;
                dilate(x0, y0, x1, y1, r.block.edgeSize, &gx0, &gy0, &gx1, &gy1);
                c.paint(c.grown, gx0, gy0, gx1, gy1, dx, dy, pass == 0 ? r.block.shadowColour : r.block.edgeColour);
            } else {
                c.paint(c.cover, x0, y0, x1, y1, dx, dy, r.block.shadowColour);
            }
        }

    out->pixels = c.pixels;
    out->width = width, out->height = height;
    out->originX = L0, out->originY = T;
    if (!keepTable(breaks, &out->breaks, &out->breakCount) || !keepTable(tabPicks, &out->tabPicks, &out->tabPickCount)) {
        qxFreeTextImage(out);
        return ERR_MEM;
    }
    out->needsAlpha = (rq->block.style & QX_TS_ANTIALIAS) || (font && font->kind == QX_FONT_COLORBITMAP);
    for (const Run &r : runs) {
        const uint32_t st = r.block.style;
        if ((r.block.colour >> 24) || ((st & QX_TS_SHADOW) && (r.block.shadowColour >> 24)) ||
            ((st & QX_TS_EDGE) && (r.block.edgeColour >> 24)) || (st & QX_TS_ANTIALIAS) ||
            (r.block.font && r.block.font->kind == QX_FONT_COLORBITMAP))
            out->needsAlpha = 1;
    }
    out->endX = x, out->endY = y;
    return 0;
}
}

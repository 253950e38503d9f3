#include "platform/qx_catalog.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/qx_errcodes.h"
#include "platform/qx_files.h"
#include "platform/qx_locale.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_platform.h"
#include "platform/qx_text.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr size_t kMinIffSize = 101;
constexpr size_t kSpare = 8;

uint32_t be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

qxCatalog *newCatalog(char *data)
{
    auto *c = static_cast<qxCatalog *>(qxAlloc(sizeof(qxCatalog), 1));
    if (c)
        c->data = data;
    return c;
}

// IFF: every entry of the STRS data must lie inside the file, so a
// truncated or hostile file is refused rather than read past.
qxCatalog *parseIff(char *data, size_t size)
{
    auto *bytes = reinterpret_cast<const uint8_t *>(data);
    size_t at = 16;
    while (at + 8 <= size && std::memcmp(bytes + at, "STRS", 4) != 0)
        at += 2;
    if (at + 8 > size)
        return nullptr;
    uint32_t chunkSize = be32(bytes + at + 4);
    size_t start = at + 8;
    if (chunkSize > size - start)
        return nullptr;
    for (size_t p = 0; chunkSize - p >= 8;) {
        uint32_t length = be32(bytes + start + p + 4);
        size_t padded = ((size_t)length + 3) & ~(size_t)3;
        if (padded > chunkSize - p - 8)
            return nullptr;
        p += 8 + padded;
    }
    qxCatalog *c = newCatalog(data);
    if (c) {
        c->strs = bytes + start;
        c->strsSize = chunkSize;
    }
    return c;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Text: processes one logical line starting at *p into out (when given);
// returns whether it yields a string. Advances *p past the line.
bool processLine(const char **p, const char *end, std::string *out)
{
    const char *s = *p;
    bool content = false;
    bool comment = false;
    while (s < end && *s != '\n') {
        char c = *s++;
        if (comment || c == '\r')
            continue;
        if (c == ';') {
            comment = true;
            continue;
        }
        if (c == '\\') {
            if (s >= end)
                break; // a final backslash has nothing to escape
            char n = *s;
            if (n == '\n' || (n == '\r' && s + 1 < end && s[1] == '\n')) {
                s += n == '\r' ? 2 : 1; // joins the next line
                continue;
            }
            s++;
            content = true;
            if (!out)
                continue;
            switch (n) {
            case ';': *out += ';'; break;
            case '"': *out += '"'; break;
            case '\'': *out += '\''; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'n': *out += '\n'; break;
            default:
                *out += '\\';
                *out += n;
                break;
            }
            continue;
        }
        if (!isBlank(c))
            content = true;
        if (out)
            *out += c;
    }
    if (s < end)
        s++; // the line feed
    *p = s;
    return content;
}

qxCatalog *parseText(char *data, size_t size)
{
    const char *begin = data, *end = data + size;
    if (size >= 3 && !std::memcmp(begin, "\xEF\xBB\xBF", 3))
        begin += 3;
    // First pass: count the strings and the room they need.
    size_t count = 0, room = 0;
    for (const char *p = begin; p < end;) {
        std::string line;
        if (processLine(&p, end, &line)) {
            count++;
            room += line.size() + 1;
        }
    }
    if (count > UINT32_MAX)
        return nullptr;
    size_t arraySize;
    if (!qxMulSize(count ? count : 1, sizeof(char *), &arraySize))
        return nullptr;
    auto *strings = static_cast<char **>(qxAlloc(arraySize, 1));
    auto *text = static_cast<char *>(qxAlloc(room ? room : 1, 0));
    if (!strings || !text) {
        qxFree(strings);
        qxFree(text);
        return nullptr;
    }
    // Second pass: fill the array.
    char *out = text;
    size_t n = 0;
    for (const char *p = begin; p < end && n < count;) {
        std::string line;
        if (processLine(&p, end, &line)) {
            std::memcpy(out, line.c_str(), line.size() + 1);
            strings[n++] = out;
            out += line.size() + 1;
        }
    }
    qxFree(data);
    qxCatalog *c = newCatalog(text);
    if (!c) {
        qxFree(text);
        qxFree(strings);
        return nullptr;
    }
    c->strings = strings;
    c->count = (uint32_t)count;
    return c;
}

// Takes ownership of data (size bytes followed by spare zero bytes).
qxCatalog *parseOwned(char *data, size_t size)
{
    auto *bytes = reinterpret_cast<const uint8_t *>(data);
    if (size >= kMinIffSize && !std::memcmp(bytes, "FORM", 4) && !std::memcmp(bytes + 8, "CTLG", 4) &&
        !std::memcmp(bytes + 12, "FVER", 4)) {
        qxCatalog *c = parseIff(data, size);
        if (!c)
            qxFree(data);
        return c;
    }
    return parseText(data, size);
}

// The native file, when the file layer has not offered its own reader.
int readNative(const char *path, void **data, int64_t *length)
{
    qxNativeFile *h = qxNativeOpen(path, QX_OPEN_READ);
    if (!h) {
        qxSetErrorString(path);
        return ERR_READFILE;
    }
    qxFileInfo info{};
    if (!qxNativeExamine(h, &info) || info.size > INT64_MAX || info.size > SIZE_MAX - kSpare) {
        qxNativeClose(h);
        return ERR_READ;
    }
    auto size = int64_t(info.size);
    auto *buffer = static_cast<char *>(qxAlloc(size_t(size) + kSpare, 1));
    if (!buffer) {
        qxNativeClose(h);
        return ERR_MEM;
    }
    size_t got = qxFileRead(h, buffer, size_t(size));
    qxNativeClose(h);
    if (got != size_t(size)) {
        qxFree(buffer);
        return ERR_READ;
    }
    *data = buffer;
    *length = size;
    return 0;
}

// Through the virtual file layer, adapters allowed.
int readWhole(const char *path, void **data, size_t *size)
{
    int64_t length = 0;
    int r = qxUpcalls.readWholeFile ? qxUpcalls.readWholeFile(path, data, &length, kSpare)
                                    : readNative(path, data, &length);
    if (r)
        return r;
    *size = (size_t)length;
    return 0;
}

const char *cached(qxCatalog *c, uint32_t id)
{
    for (qxCatalogString *s = c->cache; s; s = s->next)
        if (s->id == id)
            return s->text;
    return nullptr;
}

const char *addToCache(qxCatalog *c, uint32_t id, char *text)
{
    auto *node = static_cast<qxCatalogString *>(qxAlloc(sizeof(qxCatalogString), 1));
    if (!node)
        return nullptr;
    node->id = id;
    node->text = text;
    node->next = c->cache;
    c->cache = node;
    return text;
}

// The IFF entry for id, copied with a terminator in the current text mode.
const char *iffString(qxCatalog *c, uint32_t id, const char *def)
{
    for (size_t p = 0; c->strsSize - p >= 8;) {
        const uint8_t *entry = c->strs + p;
        uint32_t entryId = be32(entry), length = be32(entry + 4);
        if (entryId == 0xFFFFFFFFu)
            break;
        size_t padded = ((size_t)length + 3) & ~(size_t)3; // bounded when the file was opened
        if (entryId == id) {
            auto *latin = static_cast<char *>(qxAlloc((size_t)length + 1, 1));
            if (!latin)
                return def;
            std::memcpy(latin, entry + 8, length);
            char *text = latin;
            if (qxTextModeUtf8) {
                if (char *utf8 = qxLatin1ToUtf8Dup(latin)) {
                    qxFree(latin);
                    text = utf8;
                }
            }
            if (const char *kept = addToCache(c, id, text))
                return kept;
            qxFree(text);
            return def;
        }
        p += 8 + padded;
    }
    return def;
}

qxCatalog *playerCatalog;

} // namespace

qxCatalog *qxParseCatalog(const void *bytes, size_t size)
{
    size_t total;
    if (!qxAddSize(size, kSpare, &total))
        return nullptr;
    auto *copy = static_cast<char *>(qxAlloc(total, 1));
    if (!copy)
        return nullptr;
    if (size)
        std::memcpy(copy, bytes, size);
    return parseOwned(copy, size);
}

qxCatalog *qxOpenCatalog(const char *name, int)
{
    uint32_t language = qxGetLanguage();
    if (language == QX_LANGUAGE_ENGLISH || language == QX_LANGUAGE_UNKNOWN || !name)
        return nullptr;
    const char *english = qxLanguageEnglishName(language);
    const char *native = qxLanguageNativeName(language);
    if (!english)
        return nullptr;
    if (!native)
        native = english;

    // The current directory first, then the program's directory.
    std::string bases[2];
    if (std::strchr(qxProgramPath, '/')) {
        char dir[QX_PATH_MAX];
        qxMakeSystemPath(dir, sizeof dir, 1);
        bases[1] = std::string(dir) + "/";
    }
    for (const std::string &base : bases) {
        if (&base != &bases[0] && base.empty())
            break;
        for (const char *dir : {"Catalogs", "catalogs"}) {
            for (const char *lang : {english, native}) {
                std::string path = base + dir + "/" + lang + "/" + name;
                void *data = nullptr;
                size_t size = 0;
                if (readWhole(path.c_str(), &data, &size) == 0) {
                    // One parser for files and bytes (the fuzz target's road).
                    qxCatalog *c = qxParseCatalog(data, size);
                    qxFree(data);
                    return c;
                }
            }
        }
    }
    return nullptr;
}

const char *qxGetCatalogString(qxCatalog *catalog, uint32_t id, const char *def)
{
    if (!catalog)
        return def;
    if (const char *text = cached(catalog, id))
        return text;
    if (catalog->strs)
        return iffString(catalog, id, def);
    if (id >= catalog->count)
        return def;
    char *text = catalog->strings[id];
    if (qxTextModeUtf8)
        return text;
    char *latin = qxUtf8ToLatin1Dup(text);
    if (!latin)
        return text;
    if (const char *kept = addToCache(catalog, id, latin))
        return kept;
    qxFree(latin);
    return text;
}

void qxFreeCatalog(qxCatalog *catalog)
{
    if (!catalog)
        return;
    while (qxCatalogString *s = catalog->cache) {
        catalog->cache = s->next;
        qxFree(s->text);
        qxFree(s);
    }
    qxFree(catalog->strings);
    qxFree(catalog->data);
    qxFree(catalog);
}

const char *qxGetCatalogString(unsigned index, const char *builtin)
{
    return qxGetCatalogString(playerCatalog, index, builtin);
}

int qxOpenCatalog(const char *name)
{
    qxCloseCatalog();
    playerCatalog = qxOpenCatalog(name, 0);
    return playerCatalog != nullptr;
}

void qxCloseCatalog()
{
    qxFreeCatalog(playerCatalog);
    playerCatalog = nullptr;
}

extern "C" {
qxCatalog *qxSysOpenCatalog(const char *name, int version) { return qxOpenCatalog(name, version); }
void qxSysCloseCatalog(qxCatalog *catalog) { qxFreeCatalog(catalog); }
}

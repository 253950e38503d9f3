// The configuration file beside the applet: its path and its NAME = VALUE text.
#include <charconv>
#include <cstring>
#include <strings.h>

#include "core/errors/qx_errors.h"
#include "core/runtime/qx_options.h"

namespace {

constexpr size_t kMaxName = 127;

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNameChar(char c) { return isLetter(c) || (c >= '0' && c <= '9') || c == '_'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// An option without value is on for "true", "yes", "on" or a non-zero number.
bool switchedOn(const char *value) {
    if (strcasecmp(value, "true") == 0 || strcasecmp(value, "yes") == 0 || strcasecmp(value, "on") == 0)
        return true;
    const char *end = value + std::strlen(value);
    double v = 0;
    auto res = std::from_chars(value, end, v, std::chars_format::fixed);
    if (res.ptr == value || res.ptr != end) return false;
    return res.ec == std::errc::result_out_of_range || v != 0;
}

int withIni(const char *path, size_t keep, char *out, uint32_t size) {
    if (size == 0) return 0;
    if (keep > size || size - keep < sizeof ".ini") {
        out[0] = '\0';
        return 0;
    }
    std::memmove(out, path, keep);
    std::memcpy(out + keep, ".ini", sizeof ".ini");
    return 1;
}

} // namespace

extern "C" int qxConfigFilePath(const char *path, char *out, uint32_t size) {
    size_t len = std::strlen(path);
    const char *slash = std::strrchr(path, '/');
    const char *file = slash ? slash + 1 : path;
    const char *dot = std::strrchr(file, '.'); // a dot of a directory name does not count
    return withIni(path, dot ? size_t(dot - path) : len, out, size);
}

extern "C" int qxLinkedConfigFilePath(const char *programPath, char *out, uint32_t size) {
    return withIni(programPath, std::strlen(programPath), out, size);
}

extern "C" int qxParseConfigText(char *text, qxOptionValues *vals, qxStartupInfo *startup) {
    const size_t len = std::strlen(text);
    size_t i = 0;
    qxNameValue **tail = &startup->extraArgs;
    while (*tail) tail = &(*tail)->next;

    for (;;) {
        while (i < len && isBlank(text[i])) ++i;
        if (i >= len) return 0;
        if (text[i] == '#' || text[i] == '[') {
            while (i < len && !isLineEnd(text[i])) ++i;
            continue;
        }

        if (!isLetter(text[i])) return ERR_INISYNTAX;
        size_t nameStart = i;
        while (i < len && isNameChar(text[i])) ++i;
        size_t nameLen = i - nameStart;
        if (nameLen > kMaxName) return ERR_INISYNTAX;

        // Blanks around "=" stay on the line: an empty value must not take
        // the next line as its value.
        while (i < len && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= len || text[i] != '=') return ERR_INISYNTAX;
        ++i;
        while (i < len && (text[i] == ' ' || text[i] == '\t')) ++i;

        char *value;
        if (i < len && text[i] == '"') {
            size_t start = ++i;
            while (i < len && text[i] != '"') {
                if (isLineEnd(text[i])) return ERR_INISYNTAX;
                ++i;
            }
            if (i >= len) return ERR_INISYNTAX;
            value = text + start;
            text[i++] = '\0';
        } else {
            size_t start = i;
            while (i < len && !isLineEnd(text[i])) ++i;
            size_t end = i;
            while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
            value = text + start;
            if (i < len) ++i; // past the line end, which the terminator may overwrite
            if (end < len) text[end] = '\0';
        }

        const qxOptionDef *row = qxFindOption(text + nameStart, nameLen);
        if (row) {
            if (row->takesValue) vals->slot[row->id] = value;
            else vals->slot[row->id] = switchedOn(value) ? QX_OPTION_SET : nullptr;
        } else if (!qxAppendNameValue(&tail, text + nameStart, nameLen, value, std::strlen(value))) {
            return ERR_MEM;
        }
    }
}

// Error messages: lookup through the catalog, the "%s" and "%d" of the next
// message, messages registered at run time and the error report text.
#include "core/errors/qx_errors.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "core/files/qx_chunkname.h"
#include "core/errors/qx_messages.h"
#include "platform/qx_catalog.h"
#include "platform/qx_memory.h"

namespace {

std::vector<char *> customMessages; // code 1630 + position

// Codes whose file name is shown by its base name only.
bool showsBaseName(int code) {
    switch (code) {
    case ERR_LOADPICTURE: case ERR_READFILE: case ERR_OPENSOUND: case ERR_NOALPHA:
    case ERR_OPENANIM2: case ERR_OPENSOUND2: case ERR_LOADPICTURE2: case ERR_IMAGEERROR:
    case ERR_LOADVIDEO: case ERR_NOTRANSPARENCY:
        return true;
    default:
        return false;
    }
}

// Bounded output that never splits a UTF-8 sequence when it has to cut.
struct Out {
    char *buf;
    size_t size; // > 0
    size_t len = 0;
    bool full = false;

    void put(std::string_view s) {
        if (full) return;
        size_t room = size - 1 - len;
        if (s.size() > room) {
            size_t n = room;
            while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
            s = s.substr(0, n);
            full = true;
        }
        std::memcpy(buf + len, s.data(), s.size());
        len += s.size();
        buf[len] = '\0';
    }
};

// Fills a template: "%s" takes the string, "%d" the number, "%%" is one "%";
// anything else is copied as it stands. Templates may come from the script,
// so they never reach printf.
void expand(Out &out, std::string_view tmpl, std::string_view str, int number) {
    size_t i = 0;
    while (i < tmpl.size()) {
        size_t pct = tmpl.find('%', i);
        if (pct == std::string_view::npos || pct + 1 >= tmpl.size()) {
            out.put(tmpl.substr(i));
            return;
        }
        out.put(tmpl.substr(i, pct - i));
        char c = tmpl[pct + 1];
        if (c == 's') {
            out.put(str);
        } else if (c == 'd') {
            char num[16];
            int n = std::snprintf(num, sizeof num, "%d", number);
            out.put(std::string_view(num, n > 0 ? static_cast<size_t>(n) : 0));
        } else if (c == '%') {
            out.put("%");
        } else {
            out.put(tmpl.substr(pct, 2));
        }
        i = pct + 2;
    }
}

std::string_view afterLastSlash(std::string_view s) {
    size_t p = s.rfind('/');
    return p == std::string_view::npos ? s : s.substr(p + 1);
}

bool sameFile(const char *recordFile, const char *errorFile) {
    std::string_view a = recordFile ? recordFile : "";
    std::string_view b = errorFile ? errorFile : "";
    if (b == "?") b = "";
    return a == b;
}

const qxReportLineEntry *findRecord(const qxReportLineEntry *map, size_t count,
                                    const char *errorFile, int errorLine) {
    if (!map) return nullptr;
    for (size_t i = 0; i < count; ++i) {
        const qxReportLineEntry &r = map[i];
        if (sameFile(r.fileName, errorFile) && errorLine >= r.first && errorLine <= r.last)
            return &r;
    }
    return nullptr;
}

int clampLine(long long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

extern "C" const char *qxGetErrorText(unsigned index) {
    const char *text = nullptr;
    // The rows are in index order; the search only guards against a gap.
    if (index < QX_MSG_COUNT && qxErrorMessages[index].index == index) {
        text = qxErrorMessages[index].text;
    } else {
        for (const qxErrorMessage &row : qxErrorMessages) {
            if (row.index == index) {
                text = row.text;
                break;
            }
        }
    }
    if (!text) return "";
    const char *translated = qxGetCatalogString(index, text);
    return translated ? translated : text;
}

extern "C" int qxRegisterErrorMessage(const char *text) {
    if (!text) text = "";
    if (customMessages.size() >= static_cast<size_t>(INT_MAX - QX_ERR_FIRSTCUSTOM)) return ERR_MEM;
    size_t len = std::strlen(text);
    size_t bytes;
    if (!qxAddSize(len, 1, &bytes)) return ERR_MEM;
    char *copy = static_cast<char *>(qxAlloc(bytes, 0));
    if (!copy) return ERR_MEM;
    std::memcpy(copy, text, bytes);
    try {
        customMessages.push_back(copy);
    } catch (const std::bad_alloc &) {
        qxFree(copy);
        return ERR_MEM;
    }
    return QX_ERR_FIRSTCUSTOM + static_cast<int>(customMessages.size() - 1);
}

extern "C" void qxFreeErrorMessages(void) {
    for (char *text : customMessages) qxFree(text);
    customMessages.clear();
    customMessages.shrink_to_fit();
}

extern "C" void qxFormatErrorCode(int code, char *buffer, size_t size) {
    if (!buffer || size == 0) return;
    Out out{buffer, size};
    buffer[0] = '\0';

    const char *tmpl;
    if (code >= QX_ERR_FIRSTCUSTOM) {
        size_t pos = static_cast<size_t>(code - QX_ERR_FIRSTCUSTOM);
        tmpl = pos < customMessages.size() ? customMessages[pos] : qxGetErrorText(QX_MSG_UNKNOWNCODE);
    } else if (code == ERR_NONE) {
        tmpl = qxGetErrorText(QX_MSG_NOERROR);
    } else if (code >= ERR_MEM) {
        int32_t index = qxErrorCodeMap[code - 999];
        if (index < 0) {
            // The stored text is the whole message (Error(), font errors):
            // shown as it stands, never used as a template.
            out.put(qxGetErrorString());
            return;
        }
        tmpl = qxGetErrorText(static_cast<unsigned>(index));
    } else {
        // Below 1000 nothing is an error code; -1 and -2 are Gosub returns.
        tmpl = qxGetErrorText(QX_MSG_UNKNOWNCODE);
    }

    std::string_view str = qxGetErrorString();
    char chunkBase[QX_ERRORSTRING_SIZE];
    if (str.substr(0, 8) == ":::chunk") {
        str = qxChunkNameBaseName(qxGetErrorString(), chunkBase, sizeof chunkBase) ? chunkBase : "unknown";
    }
    if (showsBaseName(code)) str = afterLastSlash(str);
    expand(out, tmpl, str, qxGetErrorNumber());
}

extern "C" size_t qxBuildErrorReport(const char *message, const char *fileName, int line,
                                     const char *commandName, char *out, size_t size) {
    if (!out || size == 0) return 0;
    if (!message) message = "";
    const char *base = afterLastSlash(fileName ? fileName : "").data();
    int n;
    if (!commandName || std::strcmp(commandName, "----") == 0) {
        n = std::snprintf(out, size, "%s\n%s: %s (%s: %d)", message, qxGetErrorText(QX_MSG_FILE),
                          base, qxGetErrorText(QX_MSG_CURRENTLINE), line);
    } else {
        n = std::snprintf(out, size, "%s\n%s: %s (%s: %d - %s: %s)", message,
                          qxGetErrorText(QX_MSG_FILE), base, qxGetErrorText(QX_MSG_CURRENTLINE),
                          line, qxGetErrorText(QX_MSG_INFUNCTION), commandName);
    }
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

extern "C" size_t qxBuildConsoleErrorLine(const char *message, const char *fileName, int line,
                                          char *out, size_t size) {
    if (!out || size == 0) return 0;
    if (!message) message = "";
    int n;
    if (fileName && *fileName)
        n = std::snprintf(out, size, "%s:%d: %s\n", fileName, line, message);
    else
        n = std::snprintf(out, size, "%s: %s\n", qxGetErrorText(QX_MSG_ERROR), message);
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

extern "C" int qxComputeReportLine(const qxReportLineEntry *map, size_t count,
                                   const char *errorFile, int errorLine) {
    const qxReportLineEntry *r = findRecord(map, count, errorFile, errorLine);
    if (!r) return -1;
    return clampLine(static_cast<long long>(errorLine) - r->first + r->base + 1);
}

extern "C" int qxComputeScriptReportLine(const qxReportLineEntry *map, size_t count,
                                         const char *scriptName, int errorLine, int beginLine) {
    long long line = static_cast<long long>(errorLine) - beginLine + 1;
    std::string_view script = scriptName ? scriptName : "";
    for (size_t i = 0; map && i < count; ++i) {
        if (map[i].includeName && script == map[i].includeName)
            line += static_cast<long long>(map[i].last) - map[i].first;
    }
    return clampLine(line);
}

extern "C" const char *qxComputeReportFile(const qxReportLineEntry *map, size_t count,
                                           const char *scriptName, const char *errorFile,
                                           int errorLine) {
    if (scriptName) return scriptName;
    const qxReportLineEntry *r = findRecord(map, count, errorFile, errorLine);
    if (r && r->includeName) return r->includeName;
    return "---";
}

// The SETCONSTANTS and REQUIRETAGS option texts.
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors/qx_errors.h"
#include "core/runtime/qx_options.h"
#include "core/applet/qx_preproc.h"
#include "core/vm/lauxlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

struct Cursor {
    std::string_view s;
    size_t i = 0;
    bool end() const { return i >= s.size(); }
    char peek() const { return end() ? '\0' : s[i]; }
    void blanks()
    {
        while (!end() && isBlank(s[i])) i++;
    }
};

// A whole text that is a number; false otherwise.
bool wholeNumber(const std::string &text, double *out)
{
    if (text.empty()) return false;
    int used = 0, err = 0;
    double v = qxStrToNumber(text.c_str(), &used, &err);
    if (err || used <= 0 || size_t(used) != text.size()) return false;
    *out = v;
    return true;
}

// One SETCONSTANTS entry's value after "=": [text] or a number.
int constantValue(Cursor &c, std::string &text, bool *isString, double *number)
{
    c.blanks();
    if (c.peek() == '[') {
        c.i++;
        for (;;) {
            if (c.end()) return ERR_ARGS;
            char ch = c.s[c.i];
            if (ch == '[') {
                if (c.i + 1 < c.s.size() && c.s[c.i + 1] == '[') {
                    text += '[';
                    c.i += 2;
                    continue;
                }
                return ERR_ARGS;
            }
            if (ch == ']') {
                if (c.i + 1 < c.s.size() && c.s[c.i + 1] == ']') {
                    text += ']';
                    c.i += 2;
                    continue;
                }
                c.i++;
                break;
            }
            text += ch;
            c.i++;
        }
        *isString = true;
        return 0;
    }
    size_t start = c.i;
    while (!c.end() && c.s[c.i] != '|' && !isBlank(c.s[c.i])) c.i++;
    if (!wholeNumber(std::string(c.s.substr(start, c.i - start)), number)) return ERR_ARGS;
    *isString = false;
    return 0;
}

qxRequireTag *newTag(const std::string &key)
{
    auto *t = static_cast<qxRequireTag *>(qxAlloc(sizeof(qxRequireTag), 1));
    if (!t) return nullptr;
    t->name = static_cast<char *>(qxAlloc(key.size() + 1, 0));
    if (!t->name) {
        qxFree(t);
        return nullptr;
    }
    std::memcpy(t->name, key.c_str(), key.size() + 1);
    return t;
}

// One group's "[k=v, ...]" into tags (when keep). 0, 1563 or 1000.
int tagGroup(Cursor &c, bool keep, qxRequireTag **tags)
{
    qxRequireTag **tail = tags;
    c.i++; // "["
    c.blanks();
    if (c.peek() == ']') {
        c.i++;
        return 0;
    }
    for (;;) {
        c.blanks();
        if (!isLetter(c.peek())) return ERR_REQUIRETAGFMT;
        size_t start = c.i;
        while (!c.end() && (isLetter(c.s[c.i]) || isDigit(c.s[c.i]) || c.s[c.i] == '_')) c.i++;
        std::string key(c.s.substr(start, c.i - start));
        c.blanks();
        if (c.peek() != '=') return ERR_REQUIRETAGFMT;
        c.i++;
        c.blanks();
        std::string value;
        bool quoted = c.peek() == '\'';
        if (quoted) {
            size_t close = c.s.find('\'', c.i + 1);
            if (close == std::string_view::npos) return ERR_REQUIRETAGFMT;
            value = std::string(c.s.substr(c.i + 1, close - c.i - 1));
            c.i = close + 1;
        } else {
            start = c.i;
            while (!c.end() && c.s[c.i] != ',' && c.s[c.i] != ']' && !isBlank(c.s[c.i])) c.i++;
            value = std::string(c.s.substr(start, c.i - start));
            if (value.empty()) return ERR_REQUIRETAGFMT;
        }
        if (keep) {
            qxRequireTag *t = newTag(key);
            if (!t) return ERR_MEM;
            *tail = t;
            tail = &t->next;
            double n;
            if (!quoted && value == "true") t->number = 1;
            else if (!quoted && value == "false") t->number = 0;
            else if (!quoted && wholeNumber(value, &n)) t->number = n;
            else {
                t->text = static_cast<char *>(qxAlloc(value.size() + 1, 0));
                if (!t->text) return ERR_MEM;
                std::memcpy(t->text, value.c_str(), value.size() + 1);
            }
        }
        c.blanks();
        if (c.peek() == ',') {
            c.i++;
            continue;
        }
        if (c.peek() == ']') {
            c.i++;
            return 0;
        }
        return ERR_REQUIRETAGFMT;
    }
}

} // namespace

extern "C" {

int qxApplySetConstants(lua_State *L, const char *text)
{
    struct Entry {
        std::string name, str;
        bool isString;
        double number;
    };
    std::vector<Entry> entries;
    Cursor c{text ? std::string_view(text) : std::string_view()};
    // The whole list is checked before any constant is made.
    for (;;) {
        c.blanks();
        char first = c.peek();
        if (!isLetter(first) && first != '_') return ERR_ARGS;
        Entry e{"", "", false, 1};
        while (!c.end()) {
            char ch = c.s[c.i];
            if (!(isLetter(ch) || isDigit(ch) || ch == '_' || ch == '$' || ch == '!')) break;
            e.name += char(std::tolower(static_cast<unsigned char>(ch)));
            c.i++;
        }
        if (e.name.size() > 63) return ERR_ARGS;
        c.blanks();
        if (c.peek() == '=') {
            c.i++;
            if (int err = constantValue(c, e.str, &e.isString, &e.number)) return err;
            c.blanks();
        }
        if (!c.end() && c.peek() != '|') return ERR_ARGS;
        entries.push_back(std::move(e));
        if (c.end()) break;
        c.i++; // "|"
    }
    for (const Entry &e : entries) {
        if (luaL_getconstant(L, e.name.c_str(), nullptr, nullptr)) {
            qxSetErrorString(e.name.c_str());
            return ERR_CSTDOUBLEDEF;
        }
        qxConstantDef row[2] = {{e.name.c_str(), e.isString ? e.str.c_str() : nullptr, e.number},
                                {nullptr, nullptr, 0}};
        luaL_registerconstants(L, row, 1);
    }
    return 0;
}

int qxRequireTagsFor(const char *text, const char *plugin, qxRequireTag **tags)
{
    *tags = nullptr;
    Cursor c{text ? std::string_view(text) : std::string_view()};
    bool found = false;
    for (;;) {
        c.blanks();
        if (c.end()) return 0;
        size_t start = c.i;
        while (!c.end() && c.s[c.i] != '[' && !isBlank(c.s[c.i])) c.i++;
        std::string name(c.s.substr(start, c.i - start));
        if (name.empty() || c.peek() != '[') {
            qxFreeRequireTags(*tags);
            *tags = nullptr;
            return ERR_REQUIRETAGFMT;
        }
        bool keep = !found && plugin && qxStrICmp(name.c_str(), plugin) == 0;
        if (int e = tagGroup(c, keep, tags)) {
            qxFreeRequireTags(*tags);
            *tags = nullptr;
            return e;
        }
        found = found || keep;
        if (!c.end() && !isBlank(c.peek())) {
            qxFreeRequireTags(*tags);
            *tags = nullptr;
            return ERR_REQUIRETAGFMT;
        }
    }
}
}

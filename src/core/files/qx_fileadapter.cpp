// Adapter and loader lists as the file layer reads them.
#include "core/files/qx_fileadapter.h"

#include <cstring>
#include <ctime>
#include <string_view>
#include <strings.h>

namespace {

bool isDefault(const char *list) { return !list || !*list || strcasecmp(list, "default") == 0; }

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Calls f on every non-empty token until it returns true.
template <typename F> bool anyToken(const char *list, F f)
{
    std::string_view rest(list);
    while (!rest.empty()) {
        size_t bar = rest.find('|');
        std::string_view token = rest.substr(0, bar);
        if (!token.empty() && f(token)) return true;
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 1);
    }
    return false;
}

bool names(const char *list, std::string_view name)
{
    return anyToken(list, [&](std::string_view token) {
        return token.size() <= name.size() && strncasecmp(token.data(), name.data(), token.size()) == 0;
    });
}

} // namespace

namespace qxfile {

bool listAdmits(const char *list, const char *name, bool pluginMeansAll)
{
    if (isDefault(list)) return true;
    if (!name) return false;
    std::string_view n(name);
    if (equalsNoCase(n, "native") || equalsNoCase(n, "inbuilt") || equalsNoCase(n, "plugin"))
        return anyToken(list, [&](std::string_view token) { return equalsNoCase(token, n); });
    if (names(list, n)) return true;
    return pluginMeansAll && anyToken(list, [](std::string_view token) { return equalsNoCase(token, "plugin"); });
}

bool adapterUsable(const qxAdapterNode *node, const char *list)
{
    if (!node->funcs || node->disabled) return false;
    const char *name = node->name ? node->name : "";
    if ((node->userFlags & QX_ADAPTER_ONLYNAMED) && (isDefault(list) || !*name || !names(list, name)))
        return false;
    return listAdmits(list, name, true);
}

} // namespace qxfile

extern "C" {

void qxInitFileInfo(qxAdapterFileInfo *record, uint32_t kind, int64_t size)
{
    std::memset(record, 0, sizeof *record);
    record->kind = kind;
    record->size = size;
    record->flags = 15;
    std::tm date{};
    date.tm_year = 2002 - 1900;
    date.tm_mon = 10;
    date.tm_mday = 4;
    date.tm_hour = 10;
    date.tm_min = 30;
    date.tm_isdst = -1;
    const int64_t when = std::mktime(&date);
    record->accessTime = record->modifyTime = record->changeTime = when;
}

void qxCopyFileInfo(const qxAdapterFileInfo *source, qxFileInfo *record)
{
    record->isDirectory = source->kind == 1 ? 1 : 0;
    record->size = source->size > 0 ? uint64_t(source->size) : 0;
    record->protection = source->flags;
    // The adapter's text need not end within its field.
    const size_t n = strnlen(source->comment, sizeof record->comment - 1);
    std::memcpy(record->comment, source->comment, n);
    record->comment[n] = 0;
    // Its change date is not taken: the modification date stands for it.
    record->accessTime = source->accessTime > 0 ? uint64_t(source->accessTime) : 0;
    record->modifyTime = record->changeTime = source->modifyTime > 0 ? uint64_t(source->modifyTime) : 0;
}

} // extern "C"

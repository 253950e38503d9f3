// Adapter and loader lists as the file layer reads them.
#include "core/files/qx_fileadapter.h"

#include <cstring>
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

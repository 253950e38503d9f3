#include "main/qx_clipboardlink.h"

#include "libs/qx_sysclipboard.h"
#include "platform/x11/x11_clipboard.h"

namespace {

int setText(const char *text)
{
    qxClipboardData data{};
    data.text = const_cast<char *>(text);
    return x11SetClipboard(1, &data);
}

int getClipboard(lua_State *L, char **text, int *type)
{
    qxClipboardData data{};
    const int r = x11GetClipboard(L, &data, type);
    *text = data.text;
    return r;
}

} // namespace

extern "C" {

void qxLinkClipboard(void)
{
    qxClipboard.setText = setText;
    qxClipboard.get = getClipboard;
    qxClipboard.peek = x11GetClipboardType;
    qxClipboard.clear = x11ClearClipboard;
}
}

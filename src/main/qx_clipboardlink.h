// Hands the X11 back-end's clipboard to the system library's commands.
#pragma once

extern "C" {
void qxLinkClipboard(void);
}

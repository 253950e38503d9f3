// What the input watch needs of the rest of the platform, for its
// ThreadSanitizer build without X.
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

x11Connection *x11Connections;
qxPlatformUpcalls qxUpcalls;

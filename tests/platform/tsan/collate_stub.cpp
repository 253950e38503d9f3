// The timer tests link the platform's start and exit without the text
// library; its collation tables are never built there, so there is nothing
// to free.
#include "platform/qx_text.h"

extern "C" void qxFreeCollation(void) {}

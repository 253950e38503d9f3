// Catalog parser: any file contents either parse or are refused, and
// every lookup stays inside the data.
#include <cstddef>
#include <cstdint>

#include "platform/qx_catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (qxCatalog *c = qxParseCatalog(data, size)) {
        for (uint32_t id = 0; id < 16; id++)
            qxGetCatalogString(c, id, "");
        qxFreeCatalog(c);
    }
    return 0;
}

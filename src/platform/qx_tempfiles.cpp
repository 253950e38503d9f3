#include "platform/qx_tempfiles.h"

#include <cstring>

#include "platform/qx_files.h"
#include "platform/qx_memory.h"

extern "C" {

qxTempFile *qxTempFiles;

int qxAddTempFile(const char *path)
{
    auto *node = static_cast<qxTempFile *>(qxAlloc(sizeof(qxTempFile), 1));
    if (!node)
        return 0;
    size_t len = std::strlen(path) + 1;
    node->path = static_cast<char *>(qxAlloc(len, 0));
    if (!node->path) {
        qxFree(node);
        return 0;
    }
    std::memcpy(node->path, path, len);
    node->next = qxTempFiles;
    qxTempFiles = node;
    return 1;
}

void qxDeleteTempFiles(void)
{
    while (qxTempFiles) {
        qxTempFile *next = qxTempFiles->next;
        // Through the platform, which converts the path to the text mode's form.
        qxDeleteFile(qxTempFiles->path);
        qxFree(qxTempFiles->path);
        qxFree(qxTempFiles);
        qxTempFiles = next;
    }
}
}

#include "main/qx_picturelink.h"

#include "display/qx_snapshot.h"
#include "objects/formats/qx_picformats.h"

extern "C" void qxLinkPictureWriters(void)
{
    qxPictureWriterTable.saveBMP = qxSaveBMP;
}

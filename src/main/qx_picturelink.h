// Hands the picture writers to the graphics library's savers.
#pragma once

extern "C" {
void qxLinkPictureWriters(void);
}

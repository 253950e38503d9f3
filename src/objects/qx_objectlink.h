// Fills the tables through which lower layers reach the image objects.
#pragma once

extern "C" {
void qxLinkObjects(void);
// GetAttribute's answers for BGPics, brushes, anims and icons.
void qxLinkImageAttributes(void);
}

// Fills the tables through which lower layers reach the image objects.
#pragma once

extern "C" {
void qxLinkObjects(void);
}

// Hands GetAttribute the answers of object types kept above the display layer.
#pragma once

extern "C" {
void qxLinkObjectAttributes(void);
}

// Hands text objects to the sprite and move-object libraries.
#pragma once

extern "C" {
void qxLinkSpriteTextObjects(void);
}

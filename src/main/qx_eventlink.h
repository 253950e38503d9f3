// Hands the event mapper the sources of the media, network and dos libraries.
#pragma once

extern "C" {
void qxLinkEventSources(void);
}

// Hands the event mapper the sources of the media, network and dos libraries.
#pragma once

#include <cstddef>

struct lua_State;

extern "C" {
void qxLinkEventSources(void);
// The dos side, apart because its headers and the display's clash.
int qxEventEndProgram(void *record, char *program, size_t programSize, char *arguments,
                      size_t argumentsSize, int *userRef);
void qxSetRunFinishedQuery(int (*installed)(lua_State *L));
}

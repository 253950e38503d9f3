// The requesters the system library asks. Until a display library installs
// its own entries, they go to the platform requesters (GTK or the console).
#pragma once
#include <cstdint>

#include "platform/requesters/qx_requesters.h"

// Each entry returns 0 or an error code; extra is the caller's own
// argument, which a requester adapter receives as it is.
struct qxRequesterDispatch {
    int (*system)(lua_State *L, const char *title, const char *body, const char *buttons, int icon, int extra,
                  int *choice);
    // *path allocated (qxFree), NULL when cancelled.
    int (*path)(lua_State *L, const char *title, int mode, const char *defaultPath, int extra, char **path);
    // result->completed 0 when cancelled; free with qxFreeFileResult.
    int (*file)(lua_State *L, const char *title, const char *filter, int mode, const char *defaultDir,
                const char *defaultFile, int hideIcons, qxFileRequestResult *result);
    // *text allocated (qxFree), NULL when cancelled.
    int (*string)(lua_State *L, const char *title, const char *body, const char *defaultText, int type,
                  int maxLength, int password, int extra, char **text);
    // entries: zero-terminated, an extra zero last. *index -1 when cancelled.
    int (*list)(lua_State *L, const char *title, const char *body, const char *entries, int preselected, int extra,
                int *index);
    // result->name empty when cancelled; comes in with the defaults (weight
    // 80, number -1). extra goes to a requester adapter as it is.
    int (*font)(lua_State *L, const char *title, const char *defaultFont, int extra, qxFontRequestResult *result);
    // *color -1 when none was chosen.
    int (*color)(lua_State *L, const char *title, int32_t defaultColor, int extra, int32_t *color);
    // Flags the current display while a requester is open (open 1) and,
    // when it closed (open 0), resets the display's input state. NULL: no
    // display to tell.
    void (*requesterOpen)(lua_State *L, int open);
};

extern "C" {
extern qxRequesterDispatch qxRequesters;
// The font-name words: weights (kind 0) and slants (kind 1).
struct qxFontWord {
    const char *word;
    int kind;
    int value;
};
extern const qxFontWord qxFontWords[];
// "family", then " Word" for a weight other than 80 and for a slant other
// than 0, each the first row of its kind with that value.
void qxFontDisplayName(const char *family, int weight, int slant, char *buffer, size_t size);
}

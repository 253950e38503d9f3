// The clipboard the system library's commands reach. The top of the program
// fills it with the display back-end's clipboard; an entry left NULL
// answers 1288 (feature not supported).
#pragma once

typedef struct lua_State lua_State;

struct qxClipboardDispatch {
    // Owns text in the current text mode; 0 or an error code.
    int (*setText)(const char *text);
    // *type 1 text (then *text is allocated, qxFree), 2 image, 0 nothing
    // usable; 0 or an error code.
    int (*get)(lua_State *L, char **text, int *type);
    int (*peek)(lua_State *L, int *type);
    int (*clear)(void);
};

extern "C" {
extern qxClipboardDispatch qxClipboard;
}

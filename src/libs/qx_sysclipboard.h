// The clipboard the system library's commands reach. The top of the program
// fills it with the display back-end's clipboard; an entry left NULL
// answers 1288 (feature not supported).
#pragma once
#include <cstdint>

typedef struct lua_State lua_State;
struct qxBitMap;

// A picture on its way to or from the clipboard: the planes of a brush.
struct qxClipboardImage {
    uint32_t width, height;
    qxBitMap *bitmap;
    qxBitMap *mask;  // or none
    qxBitMap *alpha; // or none
};

struct qxClipboardDispatch {
    // Owns text in the current text mode; 0 or an error code.
    int (*setText)(const char *text);
    // Owns a copy of the picture (the planes stay the caller's).
    int (*setImage)(const qxClipboardImage *image);
    // *type 1 text (then *text is allocated, qxFree), 2 image (then *image
    // holds new planes the caller owns), 0 nothing usable; 0 or an error code.
    int (*get)(lua_State *L, char **text, qxClipboardImage *image, int *type);
    int (*peek)(lua_State *L, int *type);
    int (*clear)(void);
};

extern "C" {
extern qxClipboardDispatch qxClipboard;
}

// What an applet declares: preprocessor objects with their kind data, the
// display definitions, the include-line map and the icon slots.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/runtime/qx_startup.h"

// Object kinds of the applet's object section.
enum : uint32_t {
    QX_OBJ_BGPIC = 0, QX_OBJ_BRUSH = 1, QX_OBJ_ANIM = 2, QX_OBJ_MUSIC = 3, QX_OBJ_SAMPLE = 4,
    QX_OBJ_BUTTON = 5, QX_OBJ_KEY = 6, QX_OBJ_SPRITE = 7, QX_OBJ_FILE = 8, QX_OBJ_FONT = 9,
    QX_OBJ_DISPLAY = 10, QX_OBJ_VIDEO = 11, QX_OBJ_PLUGIN = 12, QX_OBJ_MENU = 13,
    QX_OBJ_WARNING = 14, QX_OBJ_ICONFILE = 15, QX_OBJ_ICON = 16, QX_OBJ_NOTHING = 17,
    QX_OBJ_DIRECTORY = 18,
};

enum : uint32_t { QX_GRADIENT_MAX = 64, QX_REGION_MAX = 64 };

struct qxDeclaredGradientStop {
    uint32_t color;
    double position;
};

struct qxDeclaredGradient {
    uint32_t kind; // the style, 2 (#LINEAR) by default
    double centerX, centerY, balance; // 0.5 by default
    double border;
    uint32_t count;
    qxDeclaredGradientStop entries[QX_GRADIENT_MAX];
};

// Kind 0: how a BGPic is filled.
struct qxDeclaredFill {
    uint32_t fillStyle; // 0 none, 1 colour, 2 gradient, 3 texture
    uint32_t fillColor;
    uint32_t textureBrush;
    uint32_t textureX, textureY;
    qxDeclaredGradient gradient;
    uint32_t scaleWidth, scaleHeight, smoothScale;
};

struct qxBrushData {
    uint32_t width, height, x, y;
    int32_t globalAlpha;
    uint32_t hardware;
    uint32_t scaleWidth, scaleHeight, smoothScale;
    uint32_t display;
};

struct qxAnimData {
    uint32_t fromDisk;
    uint32_t width, height, frames, fpr, x;
    int32_t y;
    uint32_t skipLoopFrames, deinterlace;
};

struct qxSpriteData {
    uint32_t width, height, frames, fpr, x, y;
};

struct qxButtonData {
    uint32_t value[4];
};

// A tag of a plug-in requirement: string or number.
struct qxRequireTag {
    qxRequireTag *next;
    uint32_t size;
    char *name;
    char *text; // null: the number
    double number;
};

struct qxDeclaredMenuItem {
    qxDeclaredMenuItem *next;
    char *name; // null when the item has none
    char *id;
    char *hotkey;
    uint32_t flags;
    qxDeclaredMenuItem *submenu;
};

struct qxDeclaredIcon {
    qxDeclaredIcon *next;
    uint32_t type;
    uint32_t flags;
    uint32_t image, selImage;  // type 3
    char *file, *selFile;      // type 44: file names or chunk names
};

struct qxDirEntry {
    qxDirEntry *next;
    uint32_t isFile;
    char *name;
    uint32_t value[2];  // files
    qxDirEntry *entries; // directories
};

struct qxDeclaredRegion {
    uint32_t type, x, y, width, height;
};

// A display the applet declares (or the default one).
struct qxDisplayDef {
    char title[256];
    uint32_t flags;
    uint32_t flags2;
    int32_t bgpic;
    int32_t x, y;
    int32_t width, height;
    uint32_t color;
    double scaleFactor;
    int32_t scaleWidth, scaleHeight;
    int32_t restoreWidth, restoreHeight;
    qxDeclaredRegion dragRegions[QX_REGION_MAX];
    uint32_t dragCount;
    qxDeclaredRegion sizeRegions[QX_REGION_MAX];
    uint32_t sizeCount;
    uint32_t fillStyle;
    qxDeclaredGradient gradient;
    uint32_t textureBrush, textureX, textureY;
    uint32_t orientation;
    uint32_t monitor; // 0-based
    int32_t menu;     // -1 none
    uint32_t displayMode;
    int32_t scrWidth, scrHeight, scrDepth;
    uint32_t desktop;
    qxBackfill backfill;
    char xServer[256];
};

struct qxObjectRecord {
    qxObjectRecord *next;
    uint32_t kind;
    int32_t id;
    uint32_t linked;
    char *text;
    uint32_t textOffset, textSize;
    uint32_t dataOffset, dataSize;
    int32_t valueA;
    uint32_t flags;
    uint32_t line;
    void *data;
    char container[1024];
    char loader[256];
    char adapter[256];
    uint32_t quiet;
    // Set while the objects are created: shared image files.
    uint32_t cacheMark; // 0, 1 "cache", 2 "cachedload"
    uint32_t cacheAlpha;
    uint32_t dataHandedOver;
    uint32_t implicit; // the default display 1 (no kind-10 declaration made it)
};

struct qxIncludeLine {
    qxIncludeLine *next;
    uint32_t first, last, offset;
    char name[1024];
    char source[1024];
};

// Display settings that sections 7, 16, 17, 21 to 23 give display 1.
struct qxDisplayOverrides {
    uint32_t given;        // bit per section below
    uint32_t displayMode;  // 16
    int32_t scrWidth, scrHeight; // 22
    int32_t scrDepth;      // 23
    uint32_t desktop;      // 7
    uint32_t hideTitleBar; // 21
    qxBackfill backfill;   // 17
};
enum : uint32_t {
    QX_OVR_DESKTOP = 1, QX_OVR_MODE = 2, QX_OVR_BACKFILL = 4, QX_OVR_HIDETITLE = 8,
    QX_OVR_SCRSIZE = 16, QX_OVR_SCRDEPTH = 32,
};

// Loader state that outlives the section reader.
struct qxAppletState {
    qxDisplayOverrides overrides;
    uint32_t noCmdLineDisplay;  // section 29
    uint32_t backendFlags;      // section 32
    uint32_t backendValues[3];
    char *savedDir;             // the directory before loading, or null
    char unpackedPath[1024];    // temporary copy of a packed applet, or ""
    char dataPath[1024];        // file the applet's offsets point into
    uint32_t dataBase;          // where the applet starts in dataPath
    uint32_t pluginScaleFlags;  // RequirePlugin's answers (bits 0-2)
    uint32_t latin1Done;        // the kept texts were converted
};

extern "C" {
extern qxAppletState qxAppletLoad;
// Set while the plug-in requirements of start-up are loaded: adapter
// installers tell this phase from later loads.
extern uint32_t qxRequirePhase;
// 1 once start-up has begun making the applet's declared objects, the
// plug-in requirements first among them: adapters may be installed.
int qxAdapterInstallOpen(void);
// The preferences file's reader (mode 0 pushes its table and returns 0,
// else non-zero), filled by the top: displays that remember their
// placement read it back at start-up. Null: nothing is remembered.
extern int (*qxPreprocLoadPrefs)(lua_State *L, int mode);
// The steps around the declared objects that the libraries above do, filled
// by the top (null: skipped): the application's window icons first (the
// argument says whether to print progress), the default font once the
// required plug-ins are in, and the picture cache's release at the end.
struct qxPreprocSteps {
    int (*buildAppIcons)(int showProgress);
    int (*openDefaultFont)(void);
    void (*freePictureCache)(void);
};
extern qxPreprocSteps qxPreprocHooks;

// Display definition defaults: 640 x 480, "Zephyrane", centred, window mode.
void qxInitDisplayDef(qxDisplayDef *def);
// Appends an object record with a copy of size bytes of data. 0 or 1000.
int qxAddPreprocessorObject(qxAppletInfo *applet, uint32_t kind, int32_t id, const char *text, int32_t valueA,
                            uint32_t flags, uint32_t line, const char *loader, const char *adapter,
                            const void *data, size_t size);
// Display 1's definition, appended with the defaults (and flag 0x400 when
// active) when the applet declares none; null when out of memory.
qxDisplayDef *qxFirstDisplayDef(qxAppletInfo *applet, int active);
void qxFreeObjectRecord(qxObjectRecord *obj);
// Frees a directory tree; OpenDirectory owns the one it was handed.
void qxFreeDirTree(qxDirEntry *tree);
void qxFreeObjectList(qxAppletInfo *applet);
// Switches the runtime to ISO-8859-1 and converts the texts already kept.
void qxSwitchToLatin1(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet);

// Parses SETCONSTANTS text and registers the constants. 0, 1060, 1077 or 1000.
int qxApplySetConstants(lua_State *L, const char *text);
// The tags that the REQUIRETAGS text gives plugin (null when no group names
// it). The whole text is checked: 0, 1563 or 1000.
int qxRequireTagsFor(const char *text, const char *plugin, qxRequireTag **tags);
void qxFreeRequireTags(qxRequireTag *tags);
}

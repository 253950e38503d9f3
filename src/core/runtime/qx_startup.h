// The two records that describe a run, and the process-wide values that
// start-up owns. Other subsystems read them; only start-up and the option
// parser write them.
#pragma once
#include <cstdint>

struct lua_State;

// An option name the table does not know, kept with its value for the script.
struct qxNameValue {
    qxNameValue *next;
    char *name;
    char *value; // empty string when no word followed
};

struct qxStartupInfo {
    uint32_t isApplet;
    char appletPath[1024];
    char programPath[1024];
    char givenName[1024];
    uint32_t quiet;
    uint32_t noSound;
    uint32_t soundTag;
    char errorText[2048];
    qxNameValue *extraArgs;
    uint32_t allDisplays;
    uint32_t numChannels;
    uint32_t forceSound;
};

// Backfill decoration of full-screen displays.
struct qxBackfill {
    uint32_t mode; // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
    int32_t startColor;
    int32_t endColor;
    int32_t x;
    int32_t y;
    int32_t brushId;
    uint32_t scale;
    int32_t transColor;
    char imagePath[1024];
    uint32_t hideTitleBar;
    uint32_t smoothScale;
};

// Display modes chosen on the command line.
enum : uint32_t {
    QX_DISPMODE_NONE = 0,
    QX_DISPMODE_WINDOW = 1,
    QX_DISPMODE_FULLSCREEN = 2,
    QX_DISPMODE_ASK = 3,
    QX_DISPMODE_REQUESTER = 4,
    QX_DISPMODE_FAKEFULLSCREEN = 6,
    QX_DISPMODE_FULLSCREENSCALE = 7,
    QX_DISPMODE_SYSTEMSCALE = 8,
};

struct qxObjectRecord;  // preprocessor object, filled by the applet loader
struct qxLinkedFile;    // linked file, filled by the applet loader
struct qxIncludeLine;   // include-file line map entry

struct qxAppletInfo {
    void *mainChunk;
    uint32_t mainChunkSize;
    void *secondChunk;
    uint32_t secondChunkSize;
    char header[6][256];
    uint32_t versionMajor;
    uint32_t versionMinor;
    // Display settings from the command line.
    int32_t winWidth, winHeight; // 0 = not given, negative = percentage
    int32_t scaleWidth, scaleHeight;
    double scaleFactor;
    int32_t monitor;
    uint32_t displayMode;
    int32_t scrWidth, scrHeight, scrDepth;
    qxBackfill backfill;
    uint32_t displayFlags;
    uint32_t displayFlags2;
    char xServer[256];
    // Filled by the applet loader.
    qxObjectRecord *objects;
    qxLinkedFile *linkedFiles;
    qxIncludeLine *includeLines;
    uint32_t includeLineCount;
};

extern "C" {
extern lua_State *qxMainState;
extern qxAppletInfo *qxApplet;
extern uint32_t qxLinked;
extern uint32_t qxAppendedOffset;
extern volatile uint32_t qxQuitting;
extern uint32_t qxExitValue;
extern char qxLinkedPluginDir[1024];
// Progress-bar step per loaded item while the applet starts.
extern int qxProgressStep;
// LegacyControl "linebasedshapes": curves and rounded boxes drawn from line
// outlines even where the vector engine would draw them.
extern int qxLineBasedShapes;


int qxStartup(int argc, char **argv);
int qxShutdown(int code, lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet);
int qxRunMainScript(lua_State *L);
int qxRunMainChunk(lua_State *L);
}

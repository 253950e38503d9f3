// Command line, option table and configuration file.
#pragma once
#include <cstdio>
#include <cstddef>
#include <cstdint>

#include "core/runtime/qx_startup.h"

// One row of the option table; the table ends with a row whose name is null.
struct qxOptionDef {
    const char *name;
    uint32_t id;          // index into the option value array (1..111)
    uint32_t takesValue;  // 1 when a word must follow
    uint32_t sectionMsg;  // message index of a section heading before it, 0 = none
    uint32_t helpMsg;     // message index of the help text
    const char *valueName;
    const char *choices;
};

enum { QX_OPTION_SLOTS = 112 };

// Option identifiers: the slot of each option in qxOptionValues.
enum : uint32_t {
    QX_OPT_APPLET = 0, // slot 0: the applet's name
    QX_OPT_WINDOW = 1, QX_OPT_BORDERLESS, QX_OPT_SIZEABLE, QX_OPT_FIXED, QX_OPT_NOHIDE,
    QX_OPT_DISABLEBLANKER, QX_OPT_ALLDISPLAYS, QX_OPT_OVERRIDEPLACEMENT, QX_OPT_MAXIMIZED,
    QX_OPT_WINWIDTH, QX_OPT_WINHEIGHT, QX_OPT_NATIVEUNITS, QX_OPT_NOLIVERESIZE,
    QX_OPT_ALWAYSONTOP,
    QX_OPT_FULLSCREEN, QX_OPT_FULLSCREENSCALE, QX_OPT_FAKEFULLSCREEN, QX_OPT_MODEREQUESTER,
    QX_OPT_ASKDISPLAYMODE, QX_OPT_SCRWIDTH, QX_OPT_SCRHEIGHT, QX_OPT_SCRDEPTH, QX_OPT_MONITOR,
    QX_OPT_HIDEPOINTER, QX_OPT_NOMODESWITCH,
    QX_OPT_BACKFILL, QX_OPT_STARTCOLOR, QX_OPT_ENDCOLOR, QX_OPT_BRUSHFILE, QX_OPT_BRUSH,
    QX_OPT_SCALEPICTURE, QX_OPT_PICXPOS, QX_OPT_PICYPOS, QX_OPT_PICTRANS, QX_OPT_HIDETITLEBAR,
    QX_OPT_AUTOSCALE, QX_OPT_LAYERSCALE, QX_OPT_SYSTEMSCALE, QX_OPT_SCALEFACTOR,
    QX_OPT_SCALEWIDTH, QX_OPT_SCALEHEIGHT, QX_OPT_SMOOTHSCALE, QX_OPT_KEEPPROPORTIONS,
    QX_OPT_FITSCALE, QX_OPT_NOSCALEENGINE,
    QX_OPT_NOSOUND, QX_OPT_FORCESOUND, QX_OPT_NUMCHANNELS, QX_OPT_AUDIODEVICE,
    QX_OPT_REQUIREPLUGINS, QX_OPT_REQUIRETAGS, QX_OPT_SKIPPLUGINS,
    QX_OPT_DEBUGDEVICE, QX_OPT_DEBUGOUTPUT, QX_OPT_FORCEFLUSH, QX_OPT_NODEBUG,
    QX_OPT_HELP, QX_OPT_QUIET, QX_OPT_ENCODING, QX_OPT_TEMPDIR, QX_OPT_NOCHDIR,
    QX_OPT_SETCONSTANTS, QX_OPT_XSERVER, QX_OPT_NOMOUSEHOOK, QX_OPT_SOFTTIMER,
    QX_OPT_COUNT = QX_OPT_SOFTTIMER // 65 options
};

// Values of one parse: empty, (char *)1 for a given option without value, or
// the value text. Slot 0 holds the applet name. Start from all empty.
struct qxOptionValues {
    const char *slot[QX_OPTION_SLOTS];
};
#define QX_OPTION_SET ((const char *)1)

// Process-wide settings the options produce; freed by qxFreeOptionSettings.
struct qxSettings {
    char alsaDevice[256];
    uint32_t noChdir;
    uint32_t overridePlacement;
    uint32_t consoleReport; // DEBUGDEVICE: error report on the console
    uint32_t debugOutput;
    uint32_t noDebug;
    uint32_t forceFlush;
    uint32_t noPointerWatch;
    uint32_t backendFlags; // bit 0x1 software timer
    char *skipList;        // split lists (qxSplitList) or null
    char *requireList;
    char *requireTags;     // copies or null
    char *setConstants;
};

extern "C" {
extern const qxOptionDef qxOptionTable[];
extern qxSettings qxGlobalSettings;

double qxStrToNumber(const char *text, int *consumed, int *error);
// Copy with every "|" turned into a zero byte plus one more zero byte at the
// end; free with qxFree. Null when out of memory.
char *qxSplitList(const char *text);

// Joins argv[1..] into one line (options as they are, other words quoted, a
// double quote inside a quoted word doubled). No length limit; null when out
// of memory. Free with qxFree.
char *qxJoinCommandLine(int argc, char **argv);
// Parses a joined line into vals (which start empty); the line is cut into
// words in place and vals point into it. Extra names are appended to
// startup->extraArgs with copies owned by the nodes. 0, 1060 or 1000.
int qxParseCommandLine(char *line, qxOptionValues *vals, qxStartupInfo *startup);
// Path of the configuration file of an applet path: the extension of the
// file-name part replaced by ".ini" (appended when it has none). 1 on
// success, 0 (and an empty out) when the result does not fit in size.
int qxConfigFilePath(const char *path, char *out, uint32_t size);
// In a linked executable: the program path with ".ini" appended. 1 or 0 as above.
int qxLinkedConfigFilePath(const char *programPath, char *out, uint32_t size);
// Parses configuration text over vals; extra names go to startup->extraArgs.
// Value pointers in vals may point into text, which must outlive vals.
// 0, 1363 or 1000.
int qxParseConfigText(char *text, qxOptionValues *vals, qxStartupInfo *startup);
// Turns option values into settings of startup, applet and qxGlobalSettings.
int qxApplyOptions(const qxOptionValues *vals, qxStartupInfo *startup, qxAppletInfo *applet);
// Takes the error device of the options first, so that an error in the
// options themselves (or in the configuration file) is reported there.
void qxApplyErrorDevice(const qxOptionValues *vals);
void qxInitDisplayDefaults(qxAppletInfo *applet);
void qxFreeNameValues(qxStartupInfo *startup);
void qxFreeOptionSettings(void);
// Prints the usage listing that HELP asks for.
void qxPrintOptionHelp(FILE *out);

// Helpers shared by the two parsers.
// Row of the option whose name equals name[0..len) without regard to case, or null.
const qxOptionDef *qxFindOption(const char *name, size_t len);
// Appends a node with copies of name and value and returns it, or null when
// out of memory. *tail is the address of the list's last next-pointer and
// moves to the new node's.
qxNameValue *qxAppendNameValue(qxNameValue ***tail, const char *name, size_t nameLen,
                      const char *value, size_t valueLen);
}

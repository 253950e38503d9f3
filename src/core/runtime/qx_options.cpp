// Command-line joining and parsing, the extra name-value list, and turning
// option values into the settings of a run.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <strings.h>
#include <initializer_list>

#include "core/errors/qx_errors.h"
#include "core/runtime/qx_options.h"
#include "platform/qx_memory.h"

#include "platform/qx_paths.h"
#include "platform/qx_text.h"

namespace {

char *copyText(const char *text, size_t len) {
    size_t size;
    if (!qxAddSize(len, 1, &size)) return nullptr;
    char *copy = static_cast<char *>(qxAlloc(size, 0));
    if (!copy) return nullptr;
    std::memcpy(copy, text, len);
    copy[len] = '\0';
    return copy;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

extern "C" qxNameValue *qxAppendNameValue(qxNameValue ***tail, const char *name, size_t nameLen,
                                          const char *value, size_t valueLen) {
    auto *node = static_cast<qxNameValue *>(qxAlloc(sizeof(qxNameValue), 1));
    if (!node) return nullptr;
    node->name = copyText(name, nameLen);
    node->value = copyText(value, valueLen);
    if (!node->name || !node->value) {
        qxFree(node->name);
        qxFree(node->value);
        qxFree(node);
        return nullptr;
    }
    **tail = node;
    *tail = &node->next;
    return node;
}

extern "C" void qxFreeNameValues(qxStartupInfo *startup) {
    qxNameValue *node = startup->extraArgs;
    startup->extraArgs = nullptr;
    while (node) {
        qxNameValue *next = node->next;
        qxFree(node->name);
        qxFree(node->value);
        qxFree(node);
        node = next;
    }
}

// ---------------------------------------------------------------------------
// Command line

extern "C" char *qxJoinCommandLine(int argc, char **argv) {
    // Measure first: the line has no length limit, so no argument is lost.
    size_t total = 1;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i] ? argv[i] : "";
        size_t len = std::strlen(arg), need = len;
        if (arg[0] != '-') {
            size_t quotes = 0;
            for (const char *p = arg; *p; ++p) quotes += *p == '"';
            if (!qxAddSize(need, quotes, &need) || !qxAddSize(need, 2, &need)) return nullptr;
        }
        if (i > 1 && !qxAddSize(need, 1, &need)) return nullptr;
        if (!qxAddSize(total, need, &total)) return nullptr;
    }
    char *line = static_cast<char *>(qxAlloc(total, 0));
    if (!line) return nullptr;
    char *out = line;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i] ? argv[i] : "";
        if (i > 1) *out++ = ' ';
        if (arg[0] == '-') {
            size_t len = std::strlen(arg);
            std::memcpy(out, arg, len);
            out += len;
        } else {
            // A quote inside a quoted word is doubled so the word survives whole.
            *out++ = '"';
            for (const char *p = arg; *p; ++p) {
                if (*p == '"') *out++ = '"';
                *out++ = *p;
            }
            *out++ = '"';
        }
    }
    *out = '\0';
    return line;
}

extern "C" int qxParseCommandLine(char *line, qxOptionValues *vals, qxStartupInfo *startup) {
    const size_t len = std::strlen(line);
    size_t i = 0;
    uint32_t waitOption = 0;
    qxNameValue *waitExtra = nullptr;
    qxNameValue **tail = &startup->extraArgs;
    while (*tail) tail = &(*tail)->next;

    for (;;) {
        while (i < len && line[i] == ' ') ++i;
        if (i >= len) return waitOption ? ERR_ARGS : 0;

        if (line[i] == '-') {
            if (waitOption) return ERR_ARGS;
            waitExtra = nullptr; // an extra name without a word keeps an empty value
            size_t start = ++i;
            while (i < len && isNameChar(line[i])) ++i;
            if (i == start) return ERR_ARGS; // a minus that names nothing
            const qxOptionDef *row = qxFindOption(line + start, i - start);
            if (row) {
                if (row->takesValue) waitOption = row->id;
                else vals->slot[row->id] = QX_OPTION_SET;
            } else {
                waitExtra = qxAppendNameValue(&tail, line + start, i - start, "", 0);
                if (!waitExtra) return ERR_MEM;
            }
            continue;
        }

        if (!waitOption && !waitExtra && vals->slot[QX_OPT_APPLET]) return ERR_ARGS;
        char *word;
        size_t wordLen;
        if (line[i] == '"') {
            // Runs to the closing quote; a doubled quote inside stands for one.
            size_t r = i + 1, w = i + 1;
            word = line + w;
            for (;;) {
                if (r >= len) return ERR_ARGS;
                if (line[r] == '"') {
                    if (r + 1 < len && line[r + 1] == '"') {
                        line[w++] = '"';
                        r += 2;
                        continue;
                    }
                    break;
                }
                line[w++] = line[r++];
            }
            wordLen = w - (i + 1);
            line[w] = '\0';
            i = r + 1;
        } else {
            size_t start = i;
            while (i < len && line[i] != ' ') ++i;
            word = line + start;
            wordLen = i - start;
            if (i < len) line[i++] = '\0';
        }

        if (waitOption) {
            vals->slot[waitOption] = word;
            waitOption = 0;
        } else if (waitExtra) {
            char *value = copyText(word, wordLen);
            if (!value) return ERR_MEM;
            qxFree(waitExtra->value);
            waitExtra->value = value;
            waitExtra = nullptr;
        } else {
            vals->slot[QX_OPT_APPLET] = word;
        }
    }
}

// ---------------------------------------------------------------------------
// Settings

extern "C" {
qxSettings qxGlobalSettings = {"default", 0, 0, 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr};
}

// Frees the option texts only: the error report after it still reads the flags.
extern "C" void qxFreeOptionSettings(void) {
    for (char **text : {&qxGlobalSettings.skipList, &qxGlobalSettings.requireList,
                        &qxGlobalSettings.requireTags, &qxGlobalSettings.setConstants}) {
        qxFree(*text);
        *text = nullptr;
    }
}

extern "C" void qxInitDisplayDefaults(qxAppletInfo *applet) {
    applet->winWidth = applet->winHeight = 0;
    applet->scaleWidth = applet->scaleHeight = 0;
    applet->scaleFactor = 1.0;
    applet->monitor = 0;
    applet->displayMode = QX_DISPMODE_NONE;
    applet->scrWidth = applet->scrHeight = applet->scrDepth = -1;
    qxBackfill &bf = applet->backfill;
    std::memset(&bf, 0, sizeof bf);
    bf.startColor = -1;
    bf.endColor = -1;
    bf.x = -100000; // #CENTER
    bf.y = -100000;
    bf.transColor = -1;
    applet->displayFlags = 0;
    applet->displayFlags2 = 0;
    applet->xServer[0] = '\0';
}

namespace {

struct Reader {
    const qxOptionValues *vals;

    bool given(uint32_t id) const { return vals->slot[id] != nullptr; }
    // Value text of an option with value, or null when not given.
    const char *text(uint32_t id) const {
        const char *t = vals->slot[id];
        return t == QX_OPTION_SET ? "" : t;
    }

    int number(uint32_t id, double *out, int *consumed = nullptr) const {
        int used = 0, err = 0;
        *out = qxStrToNumber(text(id), &used, &err);
        if (consumed) *consumed = used;
        return err;
    }
    // Integer by truncation; "%" right after the number makes it a percentage.
    int integer(uint32_t id, int32_t *out, bool percent = false) const {
        double v;
        int used;
        if (int err = number(id, &v, &used)) return err;
        int32_t n = toInt32(v);
        if (percent && text(id)[used] == '%') n = n == INT32_MIN ? INT32_MAX : -n;
        *out = n;
        return 0;
    }
    // Colours keep their 32 bits, so 0xAARRGGBB values above 0x7FFFFFFF survive.
    int color(uint32_t id, int32_t *out) const {
        double v;
        if (int err = number(id, &v)) return err;
        *out = int32_t(uint32_t(uint64_t(toInt64(v))));
        return 0;
    }

    static int32_t toInt32(double v) {
        if (std::isnan(v)) return 0;
        if (v >= 2147483647.0) return INT32_MAX;
        if (v <= -2147483648.0) return INT32_MIN;
        return int32_t(v);
    }
    static int64_t toInt64(double v) {
        if (std::isnan(v)) return 0;
        if (v >= 9223372036854775807.0) return INT64_MAX;
        if (v <= -9223372036854775808.0) return INT64_MIN;
        return int64_t(v);
    }
};

// Fixed-size text fields refuse what does not fit instead of cutting a path
// or device name into a different one.
int copyField(char *dst, size_t cap, const char *src) {
    size_t len = std::strlen(src);
    if (len >= cap) return ERR_CONSOLEARG;
    std::memcpy(dst, src, len + 1);
    return 0;
}

// Replaces an owned text setting; 1000 when out of memory.
int setOwned(char **field, char *copy) {
    if (!copy) return ERR_MEM;
    qxFree(*field);
    *field = copy;
    return 0;
}

struct FlagRow {
    uint32_t id;
    uint32_t flag;
};

constexpr FlagRow kDisplayFlags[] = {
    {QX_OPT_BORDERLESS, 0x1},          {QX_OPT_SIZEABLE, 0x2},
    {QX_OPT_FIXED, 0x4},               {QX_OPT_NOHIDE, 0x20},
    {QX_OPT_DISABLEBLANKER, 0x1000000}, {QX_OPT_MAXIMIZED, 0x10000000},
    {QX_OPT_NATIVEUNITS, 0x80000000},  {QX_OPT_NOLIVERESIZE, 0x20000},
    {QX_OPT_ALWAYSONTOP, 0x400000},    {QX_OPT_HIDEPOINTER, 0x10},
    {QX_OPT_NOMODESWITCH, 0x8},        {QX_OPT_SMOOTHSCALE, 0x80},
    {QX_OPT_KEEPPROPORTIONS, 0x8000},  {QX_OPT_FITSCALE, 0x10000},
};

// Checked in this order; the first given sets the mode, a second is an error.
constexpr FlagRow kDisplayModes[] = {
    {QX_OPT_WINDOW, QX_DISPMODE_WINDOW},
    {QX_OPT_FULLSCREEN, QX_DISPMODE_FULLSCREEN},
    {QX_OPT_FULLSCREENSCALE, QX_DISPMODE_FULLSCREENSCALE},
    {QX_OPT_FAKEFULLSCREEN, QX_DISPMODE_FAKEFULLSCREEN},
    {QX_OPT_MODEREQUESTER, QX_DISPMODE_REQUESTER},
    {QX_OPT_ASKDISPLAYMODE, QX_DISPMODE_ASK},
    {QX_OPT_SYSTEMSCALE, QX_DISPMODE_SYSTEMSCALE},
};

int applyBackfill(const Reader &r, qxBackfill &bf) {
    if (r.given(QX_OPT_HIDETITLEBAR)) bf.hideTitleBar = 1;
    if (!r.given(QX_OPT_BACKFILL)) return 0;

    const char *word = r.text(QX_OPT_BACKFILL);
    uint32_t mode;
    if (strcasecmp(word, "COLOR") == 0) mode = 1;
    else if (strcasecmp(word, "RAINBOW") == 0 || strcasecmp(word, "GRADIENT") == 0) mode = 2;
    else if (strcasecmp(word, "TEXTURE") == 0) mode = 3;
    else if (strcasecmp(word, "PICTURE") == 0) mode = 4;
    else return ERR_BACKFILL;

    bool brushFile = r.given(QX_OPT_BRUSHFILE), brush = r.given(QX_OPT_BRUSH);
    bool start = r.given(QX_OPT_STARTCOLOR), end = r.given(QX_OPT_ENDCOLOR);
    if (brushFile && brush) return ERR_BACKFILL;
    if (mode == 1 && !start) return ERR_BACKFILL;
    if (mode == 2 && (!start || !end)) return ERR_BACKFILL;
    if ((mode == 3 || mode == 4) && !brushFile && !brush) return ERR_BACKFILL;
    bf.mode = mode;

    int err = 0;
    if (brush && (err = r.integer(QX_OPT_BRUSH, &bf.brushId))) return err;
    if (brushFile && (err = copyField(bf.imagePath, sizeof bf.imagePath, r.text(QX_OPT_BRUSHFILE))))
        return err;
    if (start && (err = r.color(QX_OPT_STARTCOLOR, &bf.startColor))) return err;
    if (end && (err = r.color(QX_OPT_ENDCOLOR, &bf.endColor))) return err;
    if (r.given(QX_OPT_SCALEPICTURE)) bf.scale = 1;
    if (r.given(QX_OPT_PICXPOS) && (err = r.integer(QX_OPT_PICXPOS, &bf.x))) return err;
    if (r.given(QX_OPT_PICYPOS) && (err = r.integer(QX_OPT_PICYPOS, &bf.y))) return err;
    if (r.given(QX_OPT_PICTRANS) && (err = r.color(QX_OPT_PICTRANS, &bf.transColor))) return err;
    return 0;
}

} // namespace

extern "C" void qxApplyErrorDevice(const qxOptionValues *vals) {
    // The device name itself is unused.
    if (Reader{vals}.given(QX_OPT_DEBUGDEVICE)) qxGlobalSettings.consoleReport = 1;
}

extern "C" int qxApplyOptions(const qxOptionValues *vals, qxStartupInfo *startup, qxAppletInfo *applet) {
    const Reader r{vals};
    qxSettings &g = qxGlobalSettings;
    int err = 0;
    qxApplyErrorDevice(vals);

    if (r.given(QX_OPT_ENCODING)) {
        const char *enc = r.text(QX_OPT_ENCODING);
        if (strcasecmp(enc, "iso8859_1") == 0) qxSetTextModeUtf8(0);
        else if (strcasecmp(enc, "utf8") != 0) return ERR_BADENCODING;
    }

    for (const FlagRow &row : kDisplayFlags)
        if (r.given(row.id)) applet->displayFlags |= row.flag;

    if (r.given(QX_OPT_WINWIDTH) && (err = r.integer(QX_OPT_WINWIDTH, &applet->winWidth, true)))
        return err;
    if (r.given(QX_OPT_WINHEIGHT) && (err = r.integer(QX_OPT_WINHEIGHT, &applet->winHeight, true)))
        return err;

    bool autoScale = r.given(QX_OPT_AUTOSCALE), layerScale = r.given(QX_OPT_LAYERSCALE);
    if (autoScale && layerScale) return ERR_CONSOLEARG;
    if (autoScale) applet->displayFlags |= 0x40;
    if (layerScale) applet->displayFlags |= 0x100;
    if (r.given(QX_OPT_NOSCALEENGINE)) applet->displayFlags |= 0x40000000;
    if (r.given(QX_OPT_ALLDISPLAYS)) startup->allDisplays = 1;

    if (autoScale || layerScale) {
        if (r.given(QX_OPT_SCALEFACTOR)) {
            if ((err = r.number(QX_OPT_SCALEFACTOR, &applet->scaleFactor))) return err;
        } else {
            if (r.given(QX_OPT_SCALEWIDTH) &&
                (err = r.integer(QX_OPT_SCALEWIDTH, &applet->scaleWidth, true)))
                return err;
            if (r.given(QX_OPT_SCALEHEIGHT) &&
                (err = r.integer(QX_OPT_SCALEHEIGHT, &applet->scaleHeight, true)))
                return err;
        }
    }

    if (r.given(QX_OPT_SCRDEPTH) && (err = r.integer(QX_OPT_SCRDEPTH, &applet->scrDepth))) return err;
    if (r.given(QX_OPT_SCRWIDTH) && (err = r.integer(QX_OPT_SCRWIDTH, &applet->scrWidth))) return err;
    if (r.given(QX_OPT_SCRHEIGHT) && (err = r.integer(QX_OPT_SCRHEIGHT, &applet->scrHeight))) return err;

    if (r.given(QX_OPT_MONITOR)) {
        int32_t n;
        if ((err = r.integer(QX_OPT_MONITOR, &n))) return err;
        if (n < 1) return ERR_MONITORRANGE;
        applet->monitor = n - 1;
    }

    if ((err = applyBackfill(r, applet->backfill))) return err;

    if (r.given(QX_OPT_QUIET)) startup->quiet = 1;
    if (r.given(QX_OPT_NOSOUND)) startup->noSound = 1;
    if (r.given(QX_OPT_FORCESOUND)) startup->forceSound = 1;
    if (r.given(QX_OPT_NUMCHANNELS)) {
        int32_t n;
        if ((err = r.integer(QX_OPT_NUMCHANNELS, &n))) return err;
        if (n < 1) return ERR_CONSOLEARG;
        startup->numChannels = uint32_t(n);
    }

    if (r.given(QX_OPT_TEMPDIR)) {
        const char *dir = r.text(QX_OPT_TEMPDIR);
        // The player moves into the applet's folder before it loads it: a
        // relative folder means the one the player was started in.
        char full[QX_TEMPDIR_SIZE];
        if (dir[0] != '/') {
            if (!qxFullPath(dir, full, sizeof full)) return ERR_CONSOLEARG;
            dir = full;
        }
        if (!qxSetTempDirectory(dir)) return ERR_CONSOLEARG; // too long for the field
    }
    if (r.given(QX_OPT_NOCHDIR)) g.noChdir = 1;

    if (r.given(QX_OPT_SKIPPLUGINS) &&
        (err = setOwned(&g.skipList, qxSplitList(r.text(QX_OPT_SKIPPLUGINS)))))
        return err;
    if (r.given(QX_OPT_REQUIREPLUGINS) &&
        (err = setOwned(&g.requireList, qxSplitList(r.text(QX_OPT_REQUIREPLUGINS)))))
        return err;
    if (r.given(QX_OPT_REQUIRETAGS)) {
        const char *t = r.text(QX_OPT_REQUIRETAGS);
        if ((err = setOwned(&g.requireTags, copyText(t, std::strlen(t))))) return err;
    }
    if (r.given(QX_OPT_SETCONSTANTS)) {
        const char *t = r.text(QX_OPT_SETCONSTANTS);
        if ((err = setOwned(&g.setConstants, copyText(t, std::strlen(t))))) return err;
    }

    if (r.given(QX_OPT_DEBUGOUTPUT)) g.debugOutput = 1;
    if (r.given(QX_OPT_NODEBUG)) g.noDebug = 1;
    if (r.given(QX_OPT_FORCEFLUSH)) g.forceFlush = 1;
    if (r.given(QX_OPT_OVERRIDEPLACEMENT)) g.overridePlacement = 1;
    if (r.given(QX_OPT_AUDIODEVICE) &&
        (err = copyField(g.alsaDevice, sizeof g.alsaDevice, r.text(QX_OPT_AUDIODEVICE))))
        return err;
    if (r.given(QX_OPT_XSERVER) &&
        (err = copyField(applet->xServer, sizeof applet->xServer, r.text(QX_OPT_XSERVER))))
        return err;
    if (r.given(QX_OPT_NOMOUSEHOOK)) g.noPointerWatch = 1;
    if (r.given(QX_OPT_SOFTTIMER)) g.backendFlags |= 0x1;

    uint32_t mode = QX_DISPMODE_NONE;
    for (const FlagRow &row : kDisplayModes) {
        if (!r.given(row.id)) continue;
        if (mode != QX_DISPMODE_NONE) return ERR_CONSOLEARG;
        mode = row.flag;
    }
    if (mode != QX_DISPMODE_NONE) applet->displayMode = mode;
    return 0;
}

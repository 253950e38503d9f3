// The option table and the number and list readers that option values use.
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "core/errors/qx_errors.h"
#include "core/errors/qx_messages.h"
#include "core/runtime/qx_options.h"
#include "platform/qx_memory.h"

#define OPT(name, sec, val, choices) \
    { #name, QX_OPT_##name, (val) != nullptr, sec, QX_MSG_OPTHELP_##name, val, choices }

extern "C" const qxOptionDef qxOptionTable[] = {
    OPT(WINDOW, QX_MSG_OPTSECTION_WINDOW, nullptr, nullptr),
    OPT(BORDERLESS, 0, nullptr, nullptr),
    OPT(SIZEABLE, 0, nullptr, nullptr),
    OPT(FIXED, 0, nullptr, nullptr),
    OPT(NOHIDE, 0, nullptr, nullptr),
    OPT(DISABLEBLANKER, 0, nullptr, nullptr),
    OPT(ALLDISPLAYS, 0, nullptr, nullptr),
    OPT(OVERRIDEPLACEMENT, 0, nullptr, nullptr),
    OPT(MAXIMIZED, 0, nullptr, nullptr),
    OPT(WINWIDTH, 0, "<width>", nullptr),
    OPT(WINHEIGHT, 0, "<height>", nullptr),
    OPT(NATIVEUNITS, 0, nullptr, nullptr),
    OPT(NOLIVERESIZE, 0, nullptr, nullptr),
    OPT(ALWAYSONTOP, 0, nullptr, nullptr),
    OPT(FULLSCREEN, QX_MSG_OPTSECTION_FULLSCREEN, nullptr, nullptr),
    OPT(FULLSCREENSCALE, 0, nullptr, nullptr),
    OPT(FAKEFULLSCREEN, 0, nullptr, nullptr),
    OPT(MODEREQUESTER, 0, nullptr, nullptr),
    OPT(ASKDISPLAYMODE, 0, nullptr, nullptr),
    OPT(SCRWIDTH, 0, "<width>", nullptr),
    OPT(SCRHEIGHT, 0, "<height>", nullptr),
    OPT(SCRDEPTH, 0, "<depth>", nullptr),
    OPT(MONITOR, 0, "<num>", nullptr),
    OPT(HIDEPOINTER, 0, nullptr, nullptr),
    OPT(NOMODESWITCH, 0, nullptr, nullptr),
    OPT(BACKFILL, QX_MSG_OPTSECTION_BACKFILL, "<mode>", "color|gradient|texture|picture"),
    OPT(STARTCOLOR, 0, "<color>", "$RRGGBB"),
    OPT(ENDCOLOR, 0, "<color>", "$RRGGBB"),
    OPT(BRUSHFILE, 0, "<image file>", nullptr),
    OPT(BRUSH, 0, "<brush id>", nullptr),
    OPT(SCALEPICTURE, 0, nullptr, nullptr),
    OPT(PICXPOS, 0, "<pos>", nullptr),
    OPT(PICYPOS, 0, "<pos>", nullptr),
    OPT(PICTRANS, 0, "<color>", "$RRGGBB"),
    OPT(HIDETITLEBAR, 0, nullptr, nullptr),
    OPT(AUTOSCALE, QX_MSG_OPTSECTION_SCALING, nullptr, nullptr),
    OPT(LAYERSCALE, 0, nullptr, nullptr),
    OPT(SYSTEMSCALE, 0, nullptr, nullptr),
    OPT(SCALEFACTOR, 0, "<factor>", nullptr),
    OPT(SCALEWIDTH, 0, "<width>", nullptr),
    OPT(SCALEHEIGHT, 0, "<height>", nullptr),
    OPT(SMOOTHSCALE, 0, nullptr, nullptr),
    OPT(KEEPPROPORTIONS, 0, nullptr, nullptr),
    OPT(FITSCALE, 0, nullptr, nullptr),
    OPT(NOSCALEENGINE, 0, nullptr, nullptr),
    OPT(NOSOUND, QX_MSG_OPTSECTION_AUDIO, nullptr, nullptr),
    OPT(FORCESOUND, 0, nullptr, nullptr),
    OPT(NUMCHANNELS, 0, "<count>", nullptr),
    OPT(AUDIODEVICE, 0, "<name>", nullptr),
    OPT(REQUIREPLUGINS, QX_MSG_OPTSECTION_PLUGINS, "<list>", nullptr),
    OPT(REQUIRETAGS, 0, "<list>", nullptr),
    OPT(SKIPPLUGINS, 0, "<list>", nullptr),
    OPT(DEBUGDEVICE, QX_MSG_OPTSECTION_DEBUG, "<name>", nullptr),
    OPT(DEBUGOUTPUT, 0, nullptr, nullptr),
    OPT(FORCEFLUSH, 0, nullptr, nullptr),
    OPT(NODEBUG, 0, nullptr, nullptr),
    OPT(HELP, QX_MSG_OPTSECTION_MISC, nullptr, nullptr),
    OPT(QUIET, 0, nullptr, nullptr),
    OPT(ENCODING, 0, "<name>", "utf8|iso8859_1"),
    OPT(TEMPDIR, 0, "<path>", nullptr),
    OPT(NOCHDIR, 0, nullptr, nullptr),
    OPT(SETCONSTANTS, 0, "<list>", nullptr),
    OPT(XSERVER, 0, "<name>", nullptr),
    OPT(NOMOUSEHOOK, 0, nullptr, nullptr),
    OPT(SOFTTIMER, 0, nullptr, nullptr),
    { nullptr, 0, 0, 0, 0, nullptr, nullptr },
};
#undef OPT

static_assert(sizeof(qxOptionTable) / sizeof(qxOptionTable[0]) == QX_OPT_COUNT + 1);
static_assert(QX_OPT_COUNT == 65 && int(QX_OPT_COUNT) < int(QX_OPTION_SLOTS));

extern "C" const qxOptionDef *qxFindOption(const char *name, size_t len) {
    for (const qxOptionDef *row = qxOptionTable; row->name; ++row)
        if (std::strlen(row->name) == len && strncasecmp(row->name, name, len) == 0) return row;
    return nullptr;
}

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads hexadecimal digits from p; a double keeps long inputs free of overflow.
static size_t readHex(const char *p, double *value) {
    size_t n = 0;
    double v = 0;
    for (int d; (d = hexDigit(p[n])) >= 0; ++n) v = v * 16 + d;
    *value = v;
    return n;
}

// A decimal number beyond the range of a double: infinity when its
// magnitude is large, 0 when it is tiny (as strtod would give).
static double outOfRange(const char *p) {
    long mag = 0;
    while (*p == '0') ++p;
    if (*p >= '1' && *p <= '9') {
        while (*p >= '0' && *p <= '9') { ++p; ++mag; }
        if (*p == '.') ++p;
    } else if (*p == '.') {
        ++p;
        while (*p == '0') { ++p; --mag; }
    }
    while ((*p >= '0' && *p <= '9') || *p == '.') ++p;
    long exp = 0;
    if (*p == 'e' || *p == 'E') {
        ++p;
        bool neg = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        for (; *p >= '0' && *p <= '9'; ++p) if (exp < 100000) exp = exp * 10 + (*p - '0');
        if (neg) exp = -exp;
    }
    return mag + exp > 0 ? HUGE_VAL : 0.0;
}

extern "C" double qxStrToNumber(const char *text, int *consumed, int *error) {
    const char *p = text;
    bool negative = false;
    double value = 0;
    int err = 0;
    if (*p == '-') { negative = true; ++p; }
    if (*p == '$') {
        ++p;
        if (*p == '-') { negative = !negative; ++p; }
        size_t n = readHex(p, &value);
        if (n == 0) err = ERR_SYNTAXERROR;
        p += n;
    } else if (*p == '%') {
        ++p;
        size_t n = 0;
        for (; p[n] == '0' || p[n] == '1'; ++n) value = value * 2 + (p[n] - '0');
        if (n == 0) err = ERR_VALUEEXPECTED;
        p += n;
    } else if (*p == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        size_t n = readHex(p, &value);
        if (n == 0) err = ERR_SYNTAXERROR;
        p += n;
    } else if ((*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9')) {
        // from_chars is independent of the locale's decimal point.
        auto res = std::from_chars(p, p + std::strlen(p), value, std::chars_format::general);
        if (res.ec == std::errc::result_out_of_range) value = outOfRange(p);
        p = res.ptr;
    } else {
        err = ERR_VALUEEXPECTED;
    }
    if (consumed) *consumed = err ? 0 : int(p - text);
    if (error) *error = err;
    if (err) return 0;
    return negative ? -value : value;
}

extern "C" char *qxSplitList(const char *text) {
    size_t len = std::strlen(text), size;
    if (!qxAddSize(len, 2, &size)) return nullptr;
    char *list = static_cast<char *>(qxAlloc(size, 0));
    if (!list) return nullptr;
    for (size_t i = 0; i < len; ++i) list[i] = text[i] == '|' ? '\0' : text[i];
    list[len] = '\0';
    list[len + 1] = '\0';
    return list;
}

// The usage listing: the options under their section headings, each with its
// value form, its choices and its help text.
extern "C" void qxPrintOptionHelp(FILE *out)
{
    std::fputs("Usage: zephyrane [options] [applet.qxa] [name value ...]\n", out);
    for (const qxOptionDef *o = qxOptionTable; o->name; ++o) {
        if (o->sectionMsg)
            std::fprintf(out, "\n%s\n", qxGetErrorText(o->sectionMsg));
        char form[64];
        std::snprintf(form, sizeof form, "-%s%s%s", o->name, o->valueName ? " " : "",
                      o->valueName ? o->valueName : "");
        std::fprintf(out, "  %-28s %s", form, qxGetErrorText(o->helpMsg));
        if (o->choices)
            std::fprintf(out, " (%s)", o->choices);
        std::fputc('\n', out);
    }
    std::fflush(out);
}

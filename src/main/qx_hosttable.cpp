// The host table handed to plug-ins: the frame with its sixteen sub-table
// pointers, the small library sub-tables, and the slots of services that
// are not in the player yet, which answer with their failure results.
#include <cstdint>
#include <cstring>

#include "core/codecs/qx_crc32.h"
#include "core/errors/qx_errors.h"
#include "core/plugins/qx_hosttable.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_reqdispatch.h"
#include "main/qx_hosttable.h"
#include "core/codecs/qx_base64.h"
#include "core/codecs/qx_md5.h"
#include "draw/fonts/qx_font.h"
#include "platform/qx_locale.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

uintptr_t none(void) { return 0; }
intptr_t minusOne(void) { return -1; }
void nothing(void) {}
int cannotSetAdapter(void) { return ERR_SETADAPTER; }
int unsupported(void) { return ERR_PLUGINSUPPORT; }
int displayNotFound(void) { return ERR_FINDDISPLAY; }
void freeBlock(void *p) { qxFree(p); }

// ---- Encoding and checksums ----

int hostBase64Encode(const void *buffer, uint32_t length, char *output, uint32_t *outLength)
{
    if (!buffer || !output) return 0;
    uint64_t written = 0;
    int e = qxBase64Encode(nullptr, nullptr, output, buffer, length, &written, 1);
    if (outLength) *outLength = uint32_t(written);
    return e;
}

int hostBase64Decode(const char *text, uint32_t length, uint8_t *output, uint32_t *outLength)
{
    if (!text || !output) return 0;
    size_t decoded = 0;
    if (qxBase64Decode(text, output, nullptr, length, &decoded)) return 0;
    if (outLength) *outLength = uint32_t(decoded);
    return 1;
}

uint32_t hostCrc32(const void *buffer, int32_t length)
{
    if (length < 1 || !buffer) return 0xFFFFFFFFu;
    return qxCrc32(buffer, length);
}

void hostMD5(const void *buffer, uint32_t length, char *text)
{
    if (!length || !buffer || !text) return;
    qxMD5Context ctx;
    qxMD5Init(&ctx);
    qxMD5Update(&ctx, buffer, length);
    uint8_t digest[16];
    qxMD5Final(&ctx, digest);
    qxMD5Hex(digest, text);
}

// ---- Unicode ----

long hostUtf8Length(const char *text) { return text ? qxUtf8Length(text, nullptr) : -1; }
int hostUtf8Scan(const char *text, size_t *count) { return text ? qxUtf8Scan(text, std::strlen(text), count) : 0; }
int hostUtf8StrICmp(const char *a, const char *b) { return qxUtf8StrICmp(a, b); }
int hostUtf8StrNICmp(const char *a, const char *b, size_t n) { return qxUtf8StrNICmp(a, b, n); }

// ---- Locale ----

int hostTimeZone(int *daylightSaving) { return qxGetTimeZone(daylightSaving); }

} // namespace

#define F(x) reinterpret_cast<qxHostFunc>(x)

extern "C" {

// Graphics, audio, requesters and font lookup are filled by the layers that
// provide them.
qxHostFunc qxHostGraphics[QX_HOST_GRAPHICS_SLOTS] = {
    F(none), F(none), F(none), F(nothing), F(none), F(nothing), F(none), F(freeBlock), F(none), F(nothing),
    F(nothing), F(nothing), F(unsupported), F(cannotSetAdapter), F(none), F(nothing), F(none), F(nothing),
    F(minusOne), F(displayNotFound), F(none), F(nothing), F(nothing), F(nothing), F(nothing), F(none),
    F(none), F(none), F(none), F(unsupported), F(none), F(nothing), F(none), F(none), F(nothing), F(none),
};
qxHostFunc qxHostAudio[QX_HOST_AUDIO_SLOTS] = {F(none), F(nothing), F(cannotSetAdapter)};
const qxHostFunc qxHostRequesters[QX_HOST_REQUESTER_SLOTS] = {F(qxHostSystemRequest), F(qxHostFileRequest),
                                                             F(qxHostPathRequest), F(qxInstallRequesterAdapter)};
const qxHostFunc qxHostFontLookup[QX_HOST_FONTLOOKUP_SLOTS] = {F(qxHostFindFontFile)};
const qxHostFontData qxHostFonts = {{qxVeraSans, qxVeraSansMono, qxVeraSerif},
                                    {QX_VERA_SANS_BYTES, QX_VERA_SANSMONO_BYTES, QX_VERA_SERIF_BYTES}};

const qxHostFunc qxHostPluginList[QX_HOST_PLUGINLIST_SLOTS] = {
    F(qxGetPluginList), F(qxFreePluginList), F(qxSetPluginDisabled), F(qxSetPluginUserValue),
    F(qxGetPluginUserValue),
};

const qxHostFunc qxHostEncoding[QX_HOST_ENCODING_SLOTS] = {
    F(hostBase64Encode), F(hostBase64Decode), F(hostCrc32), F(hostMD5),
};

const qxHostFunc qxHostUnicode[QX_HOST_UNICODE_SLOTS] = {
    F(hostUtf8Length), F(hostUtf8StrICmp), F(hostUtf8StrNICmp), F(qxUniToLower), F(qxUniToUpper),
    F(qxUniIsAlnum), F(qxUniIsAlpha), F(qxUniIsCntrl), F(qxUniIsDigit), F(qxUniIsGraph), F(qxUniIsLower),
    F(qxUniIsPrint), F(qxUniIsPunct), F(qxUniIsSpace), F(qxUniIsXDigit), F(qxUniIsUpper), F(hostUtf8Scan),
    F(qxUtf8Offset), F(qxUtf8OffsetFast), F(qxUtf8DecodeAt), F(qxUtf8Encode),
};

const qxHostFunc qxHostLocale[QX_HOST_LOCALE_SLOTS] = {F(qxGetLanguage), F(qxGetLocaleCountry), F(hostTimeZone)};

const qxPluginBase qxPluginBaseTable = {
    QX_PLUGIN_VERSION, 0,
    qxHostRuntime, qxHostSystem, qxHostDos, qxHostGraphics, qxHostAudio, qxHostRequesters, qxHostFontLookup,
    qxHostFreeType, qxHostVM, &qxHostFonts, qxHostZlib, qxHostJpeg, qxHostPluginList, qxHostEncoding,
    qxHostUnicode, qxHostLocale,
};
}

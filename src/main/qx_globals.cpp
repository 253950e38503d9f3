#include "main/qx_globals.h"
#include "main/qx_hosttable.h"
#include "main/qx_libtable.h"
#include "main/qx_clipboardlink.h"
#include "main/qx_eventlink.h"
#include "main/qx_picturelink.h"
#include "main/qx_spritelink.h"
#include "main/qx_attributelink.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/commands/qx_commands.h"
#include "core/codecs/qx_crc32.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/applet/qx_linkrecord.h"
#include "core/applet/qx_preproc.h"
#include "core/runtime/qx_lists.h"
#include "core/errors/qx_messages.h"
#include "core/runtime/qx_options.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"
#include "core/plugins/qx_hosttable.h"
#include "display/qx_adapter.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmaphost.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_eventqueue.h"
#include "display/qx_startdisplay.h"
#include "draw/qx_drawlibs.h"
#include "draw/text/qx_text.h"
#include "draw/vector/qx_drawhost.h"
#include "draw/vector/qx_shapegeom.h"
#include "fx/qx_fxhooks.h"
#include "layers/qx_layer.h"
#include "media/qx_audiohost.h"
#include "media/qx_medialibs.h"
#include "media/qx_sound.h"
#include "objects/formats/qx_picformats.h"
#include "objects/qx_appicon.h"
#include "objects/qx_brush.h"
#include "objects/qx_brushhost.h"
#include "objects/qx_objectlink.h"
#include "objects/qx_output.h"
#include "objects/qx_picsource.h"
#include "platform/qx_catalog.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_platform.h"
#include "display/qx_reqdispatch.h"
#include "display/qx_satellite.h"
#include "display/qx_displaycmds.h"
#include "libs/qx_prefs.h"
#include "libs/qx_requestdispatch.h"
#include "libs/qx_tablecmds.h"
#include "platform/x11/x11_display.h"
#include "platform/qx_text.h"
#include "platform/qx_hooks.h"
#include "platform/qx_upcalls.h"
#include "platform/requesters/qx_requesters.h"

namespace {

struct QxFree {
    void operator()(void *p) const { qxFree(p); }
};
using QxText = std::unique_ptr<char, QxFree>;

// Copies a path into a fixed field; a path that does not fit is refused
// rather than cut, since a cut path names another file.
int copyPath(char *dst, size_t size, const char *src)
{
    size_t n = std::strlen(src);
    if (n >= size) {
        qxSetErrorString(src);
        return ERR_NAMETOOLONG;
    }
    std::memcpy(dst, src, n + 1);
    return 0;
}

// Chooses the applet path from the parsed name or, when none was given and
// nothing is linked, from the file requester.
int chooseAppletPath(const char *name, qxStartupInfo *startup)
{
    if (name) {
        int r = copyPath(startup->givenName, sizeof startup->givenName, name);
        if (r)
            return r;
        return copyPath(startup->appletPath, sizeof startup->appletPath,
                        qxLinked ? startup->programPath : name);
    }
    if (qxLinked)
        return copyPath(startup->appletPath, sizeof startup->appletPath, startup->programPath);
    return qxFileRequestPath(qxGetErrorText(QX_MSG_SELECTAPPLET), "qxa", startup->appletPath,
                             sizeof startup->appletPath);
}

// Reads the configuration file over the option values; a missing file is
// no error. The text must outlive vals.
int readConfigFile(qxStartupInfo *startup, qxOptionValues *vals, QxText &text)
{
    char path[1100];
    if (qxLinked)
        qxLinkedConfigFilePath(startup->programPath, path, sizeof path);
    else
        qxConfigFilePath(startup->appletPath, path, sizeof path);
    if (!path[0] || access(path, F_OK) != 0)
        return 0;
    char *raw = nullptr;
    size_t length = 0;
    int r = qxReadTextFile(path, &raw, &length);
    if (r) {
        qxSetErrorString(path);
        return r;
    }
    text.reset(raw);
    return qxParseConfigText(raw, vals, startup);
}

// Stores the run records in the registry and prepares the globals the
// script expects.
void registerRunRecords(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet)
{
    luaL_setregptr(L, "applet", applet);
    luaL_setregptr(L, "clargs", startup);
    lua_pushstring(L, "inclevels");
    lua_newtable(L);
    lua_pushstring(L, "count");
    lua_pushnumber(L, 0);
    lua_settable(L, -3);
    lua_settable(L, LUA_REGISTRYINDEX);
    lua_pushstring(L, "_g");
    lua_pushvalue(L, LUA_GLOBALSINDEX);
    lua_settable(L, LUA_GLOBALSINDEX);
}

// The libraries register about 830 commands and 1,450 constants: tables of
// that size from the start spare the ten rehashes of each as it grows, and
// a string table of that size its seven doublings.
void presizeCommandTables(lua_State *L)
{
    lua_reservestrings(L, 12);
    lua_newsizedtable(L, 0, 10);
    lua_pushnil(L);
    while (lua_next(L, LUA_GLOBALSINDEX)) {
        lua_pushvalue(L, -2);
        lua_insert(L, -2);
        lua_rawset(L, -4);
    }
    lua_replace(L, LUA_GLOBALSINDEX);
    lua_pushstring(L, "constants");
    lua_rawget(L, LUA_REGISTRYINDEX);
    bool made = lua_istable(L, -1);
    lua_pop(L, 1);
    if (made)
        return;
    lua_pushstring(L, "constants");
    lua_newsizedtable(L, 0, 11);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

int openLibraries(lua_State *L)
{
    for (const qxLibraryDef *lib = qxLibraryTable; lib->name; lib++) {
        lua_pushvalue(L, LUA_GLOBALSINDEX);
        int r = lib->open(L);
        lua_settop(L, 0);
        if (r)
            return r;
    }
    if (qxRegisterAttrSetter(qxGraphicsAttrSetter) || qxRegisterAttrSetter(qxSoundAttrSetter) ||
        qxRegisterAttrGetter(qxGraphicsAttrGetter) || qxRegisterAttrGetter(qxSoundAttrGetter))
        return 1000;
    return 0;
}

struct OpenStep {
    qxStartupInfo *startup;
    qxAppletInfo *applet;
    int result;
};

// Registration allocates in the VM, which raises 1000 when that fails: in
// a protected call that becomes the run's error report, not a panic.
int openProtected(lua_State *L)
{
    auto *step = static_cast<OpenStep *>(lua_touserdata(L, 1));
    // What the libraries register stays for the whole run: collections
    // would only mark it again and again (and sweep the presized string
    // table), and its names and commands need no block each.
    lua_setgcthreshold(L, -1);
    lua_permanentobjects(L, 1);
    presizeCommandTables(L);
    registerRunRecords(L, step->startup, step->applet);
    step->result = openLibraries(L);
    return 0;
}

// The virtual file layer's reader, offered to the platform's catalogs.
int readWholeFileUpcall(const char *path, void **data, int64_t *length, size_t extra)
{
    return qxReadWholeFile(path, nullptr, nullptr, data, length, 1, extra);
}

// The platform's capability questions: answered by an adapter with video
// bitmaps only.
uint32_t adapterHasCapUpcall(uint32_t capability)
{
    if (!qxDisplayAdapter || !(qxDisplayAdapter->displayAdapterFlags & 0x10)) return 0;
    return qxAdapterCaps(capability);
}

// The display's work bitmap when its memory is the platform's own.
const qxPlatformBitMap *workBufferUpcall(qxDisplay *display)
{
    qxBitMap *work = qxDisplayWorkBitmap(display, 0);
    if (!work || work->kind != QX_BITMAP_PIXELS || work->video || (qxAdapterFlags() & QX_ADAPTER_OWNSBITMAPS))
        return nullptr;
    return static_cast<const qxPlatformBitMap *>(work->data);
}

} // namespace

extern "C" {

void qxLinkLayers(void)
{
    qxUpcalls.workBuffer = workBufferUpcall;
    qxUpcalls.adapterHasCap = adapterHasCapUpcall;
    qxUpcalls.readWholeFile = readWholeFileUpcall;
    qxUpcalls.setInputGrabs = x11RequesterGrabs;
    qxUpcalls.drainDisplayEvents = x11DropPendingEvents;
    // Other threads wake the script through the adapter's loop when one runs.
    qxUpcalls.wakeEventLoop = x11WakeEventLoop;
    qxUpcalls.requestPoll = qxVmRequestTrace;
    qxVmNextItem = qxCmdNextItem;
    qxStopDisplayVideos = qxStopVideosOfDisplay;
    qxUpcalls.videoRects = qxVideoRectsOfDisplay;
    qxUpcalls.reapChannels = qxReapChannels;
    qxLinkClipboard();
    qxLinkEventSources();
    // Input a satellite feeds in goes to its display's event queue.
    qxHostSystem[16] = reinterpret_cast<qxHostFunc>(qxSatelliteInput);
    // Adapters post their windows' input through the host event function.
    qxHostSystem[15] = reinterpret_cast<qxHostFunc>(qxHostEvent);
    qxHostSystem[27] = reinterpret_cast<qxHostFunc>(qxHostEventL);
    qxHostSubstituteName = qxImageLoaderFileName;
    qxLinkPictureWriters();
    qxLinkObjects();
    // Hardware brushes follow their display's window.
    qxHardwareBitMaps = {qxBackupHardwareBrushes, qxRebuildBrushBitmaps, qxFreeDeletedBrushes};
    qxLinkObjectAttributes();
    qxLinkLayerEngine();
    // Layer transforms are analysed on the draw state's trig tables.
    qxLayerCosTable = qxCosTable, qxLayerSinTable = qxSinTable, qxLayerFillTrigTables = qxInitRotationPresets;
    qxLinkVideo();
    qxLinkSpriteTextObjects();
    qxLinkFXObjects();
    qxInstallBitMapHostSlots(qxHostGraphics);
    qxInstallDrawHostSlots(qxHostGraphics);
    qxInstallPictureHostSlots(qxHostGraphics);
    qxInstallBrushHostSlots(qxHostGraphics);
    qxInstallIconHostSlots(qxHostGraphics);
    // The applet's icons go onto its windows.
    qxWindowIconSet = [] { return static_cast<const qxIconNode *>(qxAppIcons); };
    qxInstallDisplayHostSlots(qxHostGraphics);
    // Displays keep their remembered placement in the preferences file.
    qxDisplayPrefs = {qxLoadPrefsFile, qxSavePrefsFile};
    qxPreprocLoadPrefs = qxLoadPrefsFile;
    qxPreprocHooks = {qxBuildAppIcons, qxOpenDefaultFont, qxFreeGfxCache};
    qxInstallAudioHostSlots(qxHostAudio);
    qxSetHostTable(&qxPluginBaseTable);
    // The system library's requesters go through the display's dispatch.
    qxRequesters.system = qxSystemRequest;
    qxRequesters.path = qxPathRequest;
    qxRequesters.file = qxFileRequest;
    qxRequesters.string = qxStringRequest;
    qxRequesters.list = qxListRequest;
    qxRequesters.font = qxFontRequest;
    qxRequesters.color = qxColorRequest;
    qxRequesters.requesterOpen = qxRequesterOpen;
    // So do the error report and the applet question.
    qxUpcalls.systemRequest = qxSystemRequest;
    qxUpcalls.fileRequest = qxFileRequest;
}

void qxPrintBanner(void)
{
    std::printf("ZephyranePlayer %d.%d [Linux] [64-bit]\n", 8, 0);
    std::printf("Runs Zephyrane applets. Written by the Zephyrane developers.\n");
    std::fflush(stdout);
}

int qxInitGlobals(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet, int argc, char **argv)
{
    qxCrc32Init();
    qxTuneHeap();
    int r = qxInitPlatform();
    if (r)
        return r;
    if ((r = x11InitPlatform()))
        return r;
    if ((r = copyPath(startup->programPath, sizeof startup->programPath, qxProgramPath)))
        return r;
    qxSetProgramPath(qxProgramPath);
    qxLinkLayers();
    qxOpenCatalog("Zephyrane.catalog");
    qxInitDisplayDefaults(applet);

    uint32_t offset = qxReadLinkOffset();
    if (offset != QX_LINK_NOTHING) {
        qxAppendedOffset = offset;
        qxLinked = 1;
    }

    QxText line(qxJoinCommandLine(argc, argv));
    if (!line)
        return 1000;
    qxOptionValues vals{};
    if ((r = qxParseCommandLine(line.get(), &vals, startup)))
        return r;
    // HELP alone lists the options and ends the run before an applet is
    // asked for; with an applet it is accepted and the applet runs.
    if (vals.slot[QX_OPT_HELP] && !vals.slot[0] && !qxLinked) {
        if (!vals.slot[QX_OPT_QUIET]) qxPrintBanner();
        qxPrintOptionHelp(stdout);
        return QX_END_RUN;
    }
    if ((r = chooseAppletPath(vals.slot[0], startup)))
        return r;
    qxApplyErrorDevice(&vals);
    QxText config;
    if ((r = readConfigFile(startup, &vals, config))) {
        qxApplyErrorDevice(&vals); // the lines read before the bad one count
        return r;
    }
    if ((r = qxApplyOptions(&vals, startup, applet)))
        return r;

    if (qxLinked)
        startup->quiet = 1;
    qxSetTag(QX_TAG_QUIET, startup->quiet);
    if (!startup->quiet)
        qxPrintBanner();

    if ((r = qxInitRuntime()) || (r = qxInitEventQueue()))
        return r;
    OpenStep step{startup, applet, 0};
    r = lua_cpcall(L, openProtected, &step);
    lua_permanentobjects(L, 0);
    lua_settop(L, 0);
    lua_setgcthreshold(L, 2 * lua_getgccount(L)); // as a collection now would

    if (r || (r = step.result))
        return r;
    qxSetTag(QX_TAG_NOSOUND, startup->noSound);
    qxSetTag(QX_TAG_FORCESOUND, startup->forceSound);
    qxSetTag(QX_TAG_SOUNDSETTING, 30);
    startup->soundTag = 30;
    return 0;
}
}

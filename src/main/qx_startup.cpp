#include "core/runtime/qx_startup.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/applet/qx_applet.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "main/qx_globals.h"
#include "main/qx_libtable.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_options.h"
#include "core/plugins/qx_plugins.h"
#include "core/errors/qx_report.h"
#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_eventqueue.h"
#include "display/qx_startdisplay.h"
#include "draw/fonts/qx_font.h"
#include "draw/qx_drawlibs.h"
#include "layers/qx_sprite.h"
#include "media/qx_medialibs.h"
#include "objects/qx_anim.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "core/applet/qx_appicon.h"
#include "display/qx_adapter.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "platform/qx_catalog.h"
#include "platform/qx_tempfiles.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_platform.h"
#include "platform/x11/x11_display.h"
#include "platform/qx_timerthread.h"
#include "platform/qx_upcalls.h"

extern "C" {

static int runMainChunkDirect(lua_State *L)
{
    // Nothing to run until the applet loader leaves the main chunk.
    if (lua_gettop(L) < 1 || !lua_isfunction(L, -1))
        return 0;
    return lua_pcall(L, 0, 0, 0);
}

// The adapter's main loop calls this; the chunk's result is kept so that a
// script error is not lost inside the loop.
static int mainChunkResult;
static void runMainChunkProtected(void *L)
{
    mainChunkResult = runMainChunkDirect(static_cast<lua_State *>(L));
}

int qxRunMainChunk(lua_State *L)
{
    mainChunkResult = 0;
    int r = qxRunMainLoop(L, runMainChunkProtected, L, runMainChunkDirect);
    return r ? r : mainChunkResult;
}

int qxRunMainScript(lua_State *L)
{
    int r = qxStartTimerMessageThread();
    if (r)
        return r;
    qxMainState = L;
    r = qxRunMainChunk(L);
    qxMainState = nullptr;
    qxStopTimerMessageThread();
    return r;
}

// Removes the directory of extracted linked plug-ins and everything in it.
static void removeLinkedPluginDir(void)
{
    if (!qxLinkedPluginDir[0])
        return;
    if (DIR *d = opendir(qxLinkedPluginDir)) {
        while (dirent *e = readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
                continue;
            std::string path = std::string(qxLinkedPluginDir) + "/" + e->d_name;
            unlink(path.c_str());
        }
        closedir(d);
    }
    rmdir(qxLinkedPluginDir);
    qxLinkedPluginDir[0] = 0;
}

// What a lost X connection, which ends the process at once, still removes.
static void deleteTempFilesNow(void)
{
    removeLinkedPluginDir();
    qxDeleteTempFiles();
}

int qxShutdown(int code, lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet)
{
    qxQuitting = 1;
    qxFreeIconSlots();
    qxSetTag(QX_TAG_STORED, 0);
    qxSetTag(QX_TAG_QUIET, startup ? startup->quiet : 0);

    qxCloseCommandLibraries(L);
    if (startup)
        qxFreeNameValues(startup);
    qxFreeOptionSettings();
    qxFreeSavedDirectory();

    if (code != 0 && code != 1003 && code >= 1)
        qxReportFinalError(code, L, startup);

    qxFreeRuntimeLists(L);
    qxFreeEventQueue();
    qxFreeAppletInfo(applet);
    qxApplet = nullptr;
    qxFreeLibraryPlugins(L);
    if (L)
        lua_closeatexit(L);
    qxUnloadPlugins();
    removeLinkedPluginDir();

    qxDeleteEventQueueMutex();
    qxFreeDrawBuffers();
    qxFree(startup);
    qxCloseCatalog();
    qxFreeAudioOutput();
    qxDeleteTempFiles();
    x11ExitPlatform();
    qxExitPlatform();
    return 0;
}

using StartupStepFn = int (*)(lua_State *, qxStartupInfo *, qxAppletInfo *);

struct StartupStep {
    StartupStepFn fn;
    qxStartupInfo *startup;
    qxAppletInfo *applet;
    int result;
};

static int runStepProtected(lua_State *L)
{
    auto *step = static_cast<StartupStep *>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    step->result = step->fn(L, step->startup, step->applet);
    return 0;
}

// The loader and the declared objects fill the VM's registry, which raises
// 1000 when memory runs out: in a protected call that is reported like any
// failed start.
static int startupStepProtected(lua_State *L, StartupStepFn fn, qxStartupInfo *startup,
                                qxAppletInfo *applet)
{
    StartupStep step{fn, startup, applet, 0};
    int top = lua_gettop(L);
    int r = lua_cpcall(L, runStepProtected, &step);
    lua_settop(L, top); // drops an error value
    return r ? r : step.result;
}

static int notEnoughMemory(void)
{
    std::puts("Not enough memory.");
    return 1;
}

int qxStartup(int argc, char **argv)
{
    auto *startup = static_cast<qxStartupInfo *>(qxAlloc(sizeof(qxStartupInfo), 1));
    auto *applet = static_cast<qxAppletInfo *>(qxAlloc(sizeof(qxAppletInfo), 1));
    if (!startup || !applet) {
        qxFree(startup);
        qxFree(applet);
        return notEnoughMemory();
    }
    applet->versionMajor = 8;
    applet->versionMinor = 0;
    qxApplet = applet;

    lua_State *L = lua_open();
    if (!L) {
        qxFree(startup);
        qxFree(applet);
        qxApplet = nullptr;
        return notEnoughMemory();
    }

    // A run that fails reports the error and tells the shell it failed.
    auto fail = [&](int code) {
        qxShutdown(code, L, startup, applet);
        return code == 1003 ? 0 : 1;
    };

    qxUpcalls.deleteTempFiles = deleteTempFilesNow;
    int r = qxInitGlobals(L, startup, applet, argc, argv);
    if (r == QX_END_RUN) {
        qxShutdown(0, L, startup, applet);
        return 0;
    }
    if (r)
        return fail(r);

    if (qxLinked) {
        r = qxExtractLinkedPlugins(startup->programPath, qxAppendedOffset);
        if (r)
            return fail(r);
    } else {
        r = qxCheckAppletFile(startup, applet, startup->quiet);
        if (r)
            return fail(r);
        if (!startup->quiet) {
            // Progress is shown in steps of 20 shared by the plug-ins.
            int plugins = qxCountPluginFiles(startup);
            qxProgressStep = plugins > 0 ? 20 / plugins : 0;
        }
    }

    if ((r = qxLoadAllPlugins(L, startup, applet)))
        return fail(r);
    if ((r = startupStepProtected(L, qxLoadApplet, startup, applet)))
        return fail(r);
    if ((r = qxPrepareMainChunk(L, startup, applet)))
        return fail(r);
    lua_sethook(L, qxPollEventsIfAllowed, LUA_MASKLINE, 0);
    qxVmLineHookStride = QX_POLL_HOOK_STRIDE; // the hook only polls events
    auto declaredObjects = [](lua_State *S, qxStartupInfo *s, qxAppletInfo *a) {
        return qxRunPreprocessorObjects(S, s, a, 0);
    };
    if ((r = startupStepProtected(L, declaredObjects, startup, applet)))
        return fail(r);
    if ((r = qxOpenFirstDisplay(L, applet, startup)))
        return fail(r);
    // Brushes, BGPics, anims and colour fonts the applet declared were only opened
    // so far.
    if ((r = qxRealizeBrushes(0, 1)) || (r = qxRealizeBGPics(L)) || (r = qxRealizeAnims()) ||
        (r = qxRealizeFontBitmaps()))
        return fail(r);
    qxRebuildSpriteMasks(); // sprites declared before the display kept pixels only
    // Windows opened before the declared pictures had pixels show them now;
    // a declared display tiled with a declared brush is tiled now. A window
    // showing its own plain fill already shows it: it is not sent again.
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next)) {
        qxBGPic *b = d->bgpicOwned ? d->bgpic : nullptr;
        bool repaint = !b;
        if (b && b->fill.style == QX_FILL_TEXTURE && !b->fill.textureBitmap) {
            if ((r = qxFillBitMapFromRecord(L, b->bitmap, &b->fill, b->width, b->height)))
                return fail(r);
            repaint = true;
        }
        if (repaint && d->state == QX_DISPSTATE_OPEN)
            qxRefreshWholeDisplay(d, 0);
    }
    qxSetTag(QX_TAG_MAINRUNNING, 1);

    r = qxRunMainScript(L);
    if (r == 1003 || r == 0) {
        // End's value is the status however End was called: a status call
        // (or a callback of one) catches its 1003 and the chunk returns 0.
        uint32_t status = qxExitValue;
        qxShutdown(0, L, startup, applet);
        return (int)status;
    }
    return fail(r);
}
}

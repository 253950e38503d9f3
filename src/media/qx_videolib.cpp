// The "video" command library: video objects, their states and the
// commands that drive their players.
#include <algorithm>
#include <atomic>
#include <pthread.h>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "media/qx_medialibs.h"
#include "media/qx_video.h"
#include "platform/qx_memory.h"

namespace {

constexpr uint32_t QX_TYPE_VIDEO = 50;

struct qxVideoObject {
    qxObjectHeader header;
    qxVideo *player;
    int32_t x, y;
    uint32_t width, height;           // the video's own size
    uint32_t reqWidth, reqHeight;     // requested size
    uint32_t smooth;
    uint32_t frames;
    std::atomic<uint32_t> state;      // 0 stopped, 1 playing, 2 paused, 3 suspended, 4 ended
    uint32_t volume;
    uint32_t seekable;
    std::string fileName;             // kept whole: a clone reopens exactly this file
    std::string loaders;
};

qxVideoObject *videoList;
bool listRegistered;
pthread_mutex_t listMutex = PTHREAD_MUTEX_INITIALIZER;
std::string defaultLoaders;

void onPlayerEnd(qxVideo *v)
{
    pthread_mutex_lock(&listMutex);
    for (auto *h = &videoList->header; videoList && h; h = h->next) {
        auto *o = reinterpret_cast<qxVideoObject *>(h);
        if (o->player == v) o->state = 4;
    }
    pthread_mutex_unlock(&listMutex);
}

int findVideo(qxObjectRef ref, qxVideoObject **out)
{
    for (qxObjectHeader *h = videoList ? &videoList->header : nullptr; h; h = h->next) {
        if (ref.automatic ? h->automatic == ref.automatic : (!h->automatic && h->id == ref.number)) {
            *out = reinterpret_cast<qxVideoObject *>(h);
            return 0;
        }
    }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDVIDEO;
}

qxVideoObject *videoArg(lua_State *L, int idx)
{
    qxVideoObject *o = nullptr;
    if (int r = findVideo(qxGetObjectIDArg(L, idx), &o)) luaG_raisecode(L, r);
    return o;
}

void stopVideo(qxVideoObject *o)
{
    qxVideoStop(o->player);
    o->state = 0;
}

void freeVideo(lua_State *L, qxVideoObject *o)
{
    stopVideo(o);
    pthread_mutex_lock(&listMutex);
    for (qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&videoList); *p; p = &(*p)->next) {
        if (*p == &o->header) {
            *p = o->header.next;
            break;
        }
    }
    pthread_mutex_unlock(&listMutex);
    if (L) qxFreeRefList(L, &o->header.data);
    qxVideoClose(o->player);
    o->~qxVideoObject();
    qxFree(o);
}

// The "loader" option of a table argument, else the default list.
std::string loaderArg(lua_State *L, int idx)
{
    if (lua_gettop(L) >= idx && !lua_isnil(L, idx)) {
        luaL_checktable(L, idx);
        lua_pushstring(L, "loader");
        lua_gettable(L, idx);
        std::string s = lua_isstring(L, -1) ? lua_tostring(L, -1) : defaultLoaders;
        lua_pop(L, 1);
        return s;
    }
    return defaultLoaders;
}

int qxCmdOpenVideo(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    std::string name = qxGetFileNameArg(L, 2, 0, nullptr);
    std::string loaders = loaderArg(L, 3);
    qxVideoObject *old = nullptr;
    if (!automatic && findVideo({number, nullptr}, &old) == 0) freeVideo(L, old);
    qxDebugPrintLine("Loading video %s", name.c_str(), 1);
    qxVideo *v = nullptr;
    if (int r = qxVideoOpen(name.c_str(), loaders.c_str(), &v)) {
        qxPrintFailed();
        if (r == ERR_LOADVIDEO) qxSetErrorString(name.c_str());
        return r;
    }
    auto *o = static_cast<qxVideoObject *>(qxAlloc(sizeof(qxVideoObject), 1));
    if (!o) {
        qxVideoClose(v);
        return ERR_MEM;
    }
    new (o) qxVideoObject{};
    o->header.type = QX_TYPE_VIDEO;
    o->header.id = automatic ? 0 : number;
    o->header.automatic = automatic ? o : nullptr;
    o->player = v;
    o->width = o->reqWidth = v->width;
    o->height = o->reqHeight = v->height;
    o->frames = v->frames;
    o->seekable = v->seekable;
    o->volume = 64;
    o->fileName = name;
    o->loaders = loaders;
    v->owner = automatic ? qxObjectRef{0, o} : qxObjectRef{number, nullptr};
    v->onEnd = onPlayerEnd;
    if (!listRegistered && qxRegisterObjectList(&videoList, QX_TYPE_VIDEO) == 0) listRegistered = true;
    pthread_mutex_lock(&listMutex);
    qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&videoList);
    while (*p) p = &(*p)->next;
    *p = &o->header;
    pthread_mutex_unlock(&listMutex);
    qxPrintDone();
    if (!automatic) return 0;
    lua_pushlightuserdata(L, o);
    return 1;
}

int qxCmdCloseVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    freeVideo(L, videoArg(L, 1));
    return 0;
}

int qxCmdPlayVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    if (lua_gettop(L) >= 4 && !lua_isnil(L, 4)) {
        luaL_checktable(L, 4);
        lua_pushstring(L, "uselayer");
        lua_gettable(L, 4);
        bool layer = lua_toboolean(L, -1);
        lua_pop(L, 1);
        if (layer) return ERR_NOLAYERS;
    }
    if (o->state == 4) stopVideo(o);
    if (o->state == 1) return ERR_VIDPLAYING;
    if (o->state == 2) return ERR_VIDPAUSED;
    o->x = lua_gettop(L) >= 2 ? int32_t(luaL_optnumber(L, 2, 0)) : 0;
    o->y = lua_gettop(L) >= 3 ? int32_t(luaL_optnumber(L, 3, 0)) : 0;
    o->state = 1;
    if (int r = qxVideoStart(o->player)) {
        o->state = 0;
        return r;
    }
    return 0;
}

int qxCmdStopVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    if (o->state == 0) return ERR_VIDSTOPPED;
    stopVideo(o);
    return 0;
}

int qxCmdPauseVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    if (o->state != 1) return ERR_VIDNOTPLAYING;
    qxVideoPause(o->player);
    o->state = 2;
    return 0;
}

int qxCmdResumeVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    if (o->state != 2) return ERR_VIDNOTPAUSED;
    qxVideoResume(o->player);
    o->state = 1;
    return 0;
}

int qxCmdSeekVideo(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    double frame = luaL_checknumber(L, 2);
    if (!o->seekable) return ERR_SEEKFORMAT;
    if (frame < 0 || frame > double(o->frames) - 1) return ERR_SEEKRANGE;
    bool running = o->state == 1 || o->state == 2;
    uint32_t state = o->state;
    qxVideoStop(o->player);
    // The next picture the player gives is the one asked for.
    int r = frame >= 1 ? qxVideoDecodeFrame(o->player, uint32_t(frame) - 1) : qxVideoDecodeFrame(o->player, 0);
    if (frame < 1) qxVideoRewind(o->player);
    if (r == ERR_MEM) return r;
    if (running) {
        if (int e = qxVideoStart(o->player)) {
            o->state = 0;
            return e;
        }
        if (state == 2) qxVideoPause(o->player);
    }
    return 0;
}

int qxCmdIsVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    qxVideo *v = nullptr;
    int ok = qxVideoOpen(name.c_str(), loaderArg(L, 2).c_str(), &v) == 0;
    qxVideoClose(v);
    lua_pushnumber(L, ok);
    return 1;
}

int qxCmdSetVideoSize(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    double w = luaL_checknumber(L, 2), h = luaL_checknumber(L, 3);
    if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
    o->reqWidth = uint32_t(std::min(w, 65535.0));
    o->reqHeight = uint32_t(std::min(h, 65535.0));
    o->smooth = lua_gettop(L) >= 4 && lua_toboolean(L, 4);
    return 0;
}

int qxCmdSetVideoPosition(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    o->x = int32_t(luaL_checknumber(L, 2));
    o->y = int32_t(luaL_checknumber(L, 3));
    return 0;
}

int qxCmdSetVideoVolume(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxVideoObject *o = videoArg(L, 1);
    o->volume = uint32_t(std::clamp(luaL_checknumber(L, 2), 0.0, 64.0));
    return 0;
}

int qxCmdIsVideoPlaying(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    lua_pushnumber(L, videoArg(L, 1)->state == 1);
    return 1;
}

int qxCmdForceVideoMode(lua_State *)
{
    return ERR_UNSUPPORTEDFEAT;
}

int qxCmdForceVideoDriver(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double d = luaL_checknumber(L, 1);
    if (d == 0) defaultLoaders = "native";
    else if (d == 1) defaultLoaders = "inbuilt|plugin";
    return 0;
}

int qxCmdDisplayVideoFrame(lua_State *L)
{
    qxCheckArgCount(L, 4, 5, 0, 0);
    videoArg(L, 1);
    return ERR_NOLAYERS; // the layer engine answers here once it is linked in
}

const qxCommandDef videoCommands[] = {
    {"OpenVideo", qxCmdOpenVideo},
    {"CloseVideo", qxCmdCloseVideo},
    {"PlayVideo", qxCmdPlayVideo},
    {"StopVideo", qxCmdStopVideo},
    {"PauseVideo", qxCmdPauseVideo},
    {"ResumeVideo", qxCmdResumeVideo},
    {"SeekVideo", qxCmdSeekVideo},
    {"IsVideo", qxCmdIsVideo},
    {"SetVideoSize", qxCmdSetVideoSize},
    {"SetVideoPosition", qxCmdSetVideoPosition},
    {"SetVideoVolume", qxCmdSetVideoVolume},
    {"IsVideoPlaying", qxCmdIsVideoPlaying},
    {"ForceVideoMode", qxCmdForceVideoMode},
    {"ForceVideoDriver", qxCmdForceVideoDriver},
    {"DisplayVideoFrame", qxCmdDisplayVideoFrame},
    {nullptr, nullptr},
};

const qxConstantDef videoConstants[] = {
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenVideoLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "video", videoCommands, videoConstants);
}

extern "C" void qxFreeAllVideos(lua_State *L)
{
    while (videoList) freeVideo(L, videoList);
    defaultLoaders.clear();
}

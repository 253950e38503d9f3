#include "main/qx_eventlink.h"
#include "display/qx_events.h"
#include "media/qx_music.h"
#include "media/qx_sound.h"
#include "net/qx_net.h"

namespace {

void setFillMusicHandler(int installed)
{
    qxAudio.onFillMusicBuffer = installed ? 1 : 0;
}

void setInMusicCallback(int inside)
{
    qxAudio.inMusicCallback = inside ? 1 : 0;
}

qxObjectRef refOf(const qxNetObjectNode *n)
{
    return qxObjectRef{n->header.id, n->header.automatic};
}

// Walks one list from the library's iteration position (the head when no
// walk is under way); a hit keeps the position so that the walk resumes
// there, the end of the list clears it.
int pollList(int list, uint32_t wanted, uint32_t *slot, qxObjectRef *id, qxObjectRef *client)
{
    qxNetObjectNode *n = qxNetIterPos[list] ? qxNetIterPos[list] : qxNetLists[list];
    for (; n; n = reinterpret_cast<qxNetObjectNode *>(n->header.next)) {
        qxNetObjectNode *next = reinterpret_cast<qxNetObjectNode *>(n->header.next);
        if (list == 2 && (wanted & (1u << QX_OBJ_RECEIVEUDP)) && qxNetPollUDP(n)) {
            *slot = QX_OBJ_RECEIVEUDP;
        } else if (list == 1 && (wanted & (1u << QX_OBJ_CONNECT))) {
            void *automatic = nullptr;
            if (!qxNetPollAccept(n, &automatic))
                continue;
            *slot = QX_OBJ_CONNECT;
            *client = qxObjectRef{0, automatic};
            // More clients may wait on the same server.
            qxNetIterPos[list] = n;
            *id = refOf(n);
            return 1;
        } else if (list == 0 && (wanted & (1u << QX_OBJ_RECEIVEDATA)) && qxNetPollReceive(n)) {
            *slot = QX_OBJ_RECEIVEDATA;
            // The same connection is asked for a lost peer next.
            qxNetIterPos[list] = n;
            *id = refOf(n);
            return 1;
        } else if (list == 0 && (wanted & (1u << QX_OBJ_DISCONNECT)) && qxNetPollDisconnect(n)) {
            *slot = QX_OBJ_DISCONNECT;
        } else {
            continue;
        }
        *id = refOf(n);
        qxNetIterPos[list] = next;
        return 1;
    }
    qxNetIterPos[list] = nullptr;
    return 0;
}

int pollNetwork(uint32_t wanted, uint32_t *slot, qxObjectRef *id, qxObjectRef *client)
{
    for (int list : {2, 1, 0})
        if (pollList(list, wanted, slot, id, client))
            return 1;
    return 0;
}

int runFinishedInstalled(lua_State *)
{
    return qxObjectHandlers[QX_OBJ_RUNFINISHED].function != QX_NO_REF;
}

} // namespace

extern "C" void qxLinkEventSources(void)
{
    qxEventSources.findMusicNeedingData = qxFindMusicNeedingData;
    qxEventSources.setFillMusicHandler = setFillMusicHandler;
    qxEventSources.setInMusicCallback = setInMusicCallback;
    qxEventSources.pollNetwork = pollNetwork;
    qxEventSources.endProgram = qxEventEndProgram;
    qxSetRunFinishedQuery(runFinishedInstalled);
}

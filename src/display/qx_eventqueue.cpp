#include "display/qx_eventqueue.h"

#include <time.h>

#include <cstdlib>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "display/qx_display.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

extern "C" {
uint32_t qxEventTimeout = 60000;
qxQueuedEvent *qxEventQueue;
void (*qxFreeCustomEventData)(uint32_t type, void *payload);
}

namespace {

qxMutex *queueMutex;
qxQueuedEvent *queueTail; // last node, so that posting does not walk the list
bool queueOn;
uint64_t clockSkew;

uint64_t monotonicMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000 + clockSkew;
}

void freeNode(qxQueuedEvent *node)
{
    if (node->payload) {
        if (node->type >= QX_FIRST_CUSTOM_EVENT && qxFreeCustomEventData)
            qxFreeCustomEventData(node->type, node->payload);
        else
            std::free(node->payload);
    }
    std::free(node);
}

bool held(const qxDisplay *d, uint32_t code)
{
    return d->input.keys[code] || d->input.keys[QX_RAWKEY_BASE + code];
}

// A quit request from the host path: the flag and a type-23 event.
void requestQuit(qxDisplay *d)
{
    qxQuitRequested = 1;
    qxPostEvent(d, 23, 0, 0, 0, nullptr);
}

bool scalesWithoutSystemScaling(const qxDisplay *d)
{
    return (d->autoScale || d->layerScale) && !d->systemScale;
}

} // namespace

extern "C" {

int qxInitEventQueue(void)
{
    queueMutex = qxCreateMutex();
    if (!queueMutex)
        return ERR_SEMAPHORE;
    queueOn = true;
    return 0;
}

void qxFreeEventQueue(void)
{
    if (!queueMutex)
        return;
    qxFlushEvents(nullptr, 0xFFFFFFFFu, 1);
    qxLockMutex(queueMutex);
    queueOn = false;
    qxUnlockMutex(queueMutex);
}

void qxDeleteEventQueueMutex(void)
{
    qxDeleteMutex(queueMutex);
    queueMutex = nullptr;
}

int qxLockEventQueue(void) { return queueMutex ? qxLockMutex(queueMutex) : -1; }

void qxUnlockEventQueue(void)
{
    if (queueMutex)
        qxUnlockMutex(queueMutex);
}

int qxPostEvent(qxDisplay *display, uint32_t type, uint32_t param1, uint32_t param2,
                uint32_t param3, void *payload)
{
    if (!queueMutex)
        return 0;
    qxLockMutex(queueMutex);
    if (!queueOn || (type == 5 && display && scalesWithoutSystemScaling(display))) {
        qxUnlockMutex(queueMutex);
        return 0;
    }
    if (!qxEventQueue)
        queueTail = nullptr;
    if (type == 5) {
        // Only the newest size event of a display survives.
        for (qxQueuedEvent *n = qxEventQueue; n; n = n->next)
            if (n->type == 5 && n->display == display)
                n->type = 0;
    }
    auto *node = static_cast<qxQueuedEvent *>(std::calloc(1, sizeof(qxQueuedEvent)));
    if (!node) {
        qxUnlockMutex(queueMutex);
        return -1;
    }
    node->type = type;
    node->param1 = param1;
    node->param2 = param2;
    node->param3 = param3;
    node->display = display;
    node->payload = payload;
    node->seconds = qxGetSeconds();
    qxGetSysTime(&node->posted);
    node->postedMs = monotonicMs();
    (queueTail ? queueTail->next : qxEventQueue) = node;
    queueTail = node;
    qxUnlockMutex(queueMutex);
    return 1;
}

uint32_t qxPeekEvent(lua_State *, uint32_t index, qxEventCopy *copy, int take)
{
    qxQueuedEvent *n = qxEventQueue;
    for (uint32_t i = 0; n && i < index; i++)
        n = n->next;
    if (!n)
        return 0;
    std::memset(copy, 0, sizeof *copy);
    copy->type = n->type;
    copy->display = n->display;
    copy->seconds = n->seconds;
    copy->payload = n->payload;
    switch (n->type) {
    case 1:
    case 2:
    case 16:
        copy->param1 = n->param1;
        copy->param2 = n->param2;
        copy->param3 = n->param3;
        break;
    case 3:
    case 28:
    case 29:
        copy->pressed = n->param1;
        copy->qualifiers = n->param2;
        copy->key = n->param3;
        break;
    case 14:
    case 22:
        copy->param1 = n->param1;
        copy->param2 = n->param2;
        break;
    case 26: copy->param3 = n->param3; break;
    default: break;
    }
    if (take)
        n->payload = nullptr;
    return index + 1;
}

void qxForgetEventsOf(qxDisplay *display)
{
    if (!queueMutex)
        return;
    qxLockMutex(queueMutex);
    for (qxQueuedEvent *n = qxEventQueue; n; n = n->next)
        if (n->display == display)
            n->display = nullptr;
    qxUnlockMutex(queueMutex);
}

void qxFlushEvents(lua_State *, uint32_t n, int lock)
{
    if (lock && queueMutex)
        qxLockMutex(queueMutex);
    uint64_t count = n == 0xFFFFFFFFu ? UINT64_MAX : (uint64_t)n + 1;
    while (qxEventQueue && count--) {
        qxQueuedEvent *node = qxEventQueue;
        qxEventQueue = node->next;
        freeNode(node);
    }
    if (!qxEventQueue)
        queueTail = nullptr;
    if (lock && queueMutex)
        qxUnlockMutex(queueMutex);
}

void qxExpireEvents(lua_State *L)
{
    if (!queueMutex || qxEventTimeout == QX_EVENT_TIMEOUT_NEVER)
        return;
    qxLockMutex(queueMutex);
    // Ages come from the monotonic clock: a wall-clock step must not drop
    // or keep events.
    uint64_t now = monotonicMs();
    uint32_t old = 0;
    for (qxQueuedEvent *n = qxEventQueue; n; n = n->next, old++)
        if (now - n->postedMs <= qxEventTimeout)
            break;
    if (old)
        qxFlushEvents(L, old - 1, 0);
    qxUnlockMutex(queueMutex);
}

void qxEventQueueClockSkew(uint64_t ms) { clockSkew += ms; }

int qxHostEventL(lua_State *, uint32_t code, qxHostEventArgs *args)
{
    if (qxQuitting)
        return 0;
    if (!args)
        return ERR_ADDSYSEVENT;
    qxDisplay *d = qxFindDisplayByHandle(reinterpret_cast<void *>((uintptr_t)args->handle));
    if (!d) {
        qxSetErrorNumber((int)(uint32_t)args->handle);
        return ERR_FINDDISPLAY;
    }
    int posted = 0;
    uint32_t a = args->a, b = args->b;
    switch (code) {
    case 0:
        qxQuitRequested = 1;
        posted = qxPostEvent(d, 23, 0, 0, 0, nullptr);
        break;
    case 1: {
        if (!args->pointer)
            return ERR_ADDSYSEVENT;
        void *copy = std::malloc(2 * sizeof(void *));
        if (!copy)
            return ERR_MEM;
        std::memcpy(copy, args->pointer, 2 * sizeof(void *));
        posted = qxPostEvent(d, 24, 0, 0, 0, copy);
        if (posted != 1)
            std::free(copy);
        break;
    }
    case 3: {
        uint32_t button = args->v.c, pressed = args->v.d;
        uint32_t type = button == 1 ? 1 : button == 2 ? 2 : button == 3 ? 16 : 0;
        if (!type) {
            d->input.pointerMoved = 1;
            d->input.pointerMovedAt = qxGetSeconds();
            posted = 1;
            break;
        }
        (button == 1 ? d->input.leftButton : button == 2 ? d->input.rightButton
                                                         : d->input.middleButton) = pressed;
        posted = qxPostEvent(d, type, a, b, pressed, nullptr);
        if (button == 1 && pressed && x11QuitLeftMouse)
            requestQuit(d);
        break;
    }
    case 4:
        if (a < QX_RAWKEY_BASE)
            d->input.keys[a] = (uint8_t)(b != 0);
        posted = qxPostEvent(d, 3, b, args->v.c, a, nullptr);
        if (!b)
            break;
        if ((a == QX_KEY_ESC && x11QuitEscape) ||
            ((a == 'c' || a == 'C') && x11QuitCtrlC && (held(d, 312) || held(d, 313))))
            requestQuit(d);
        if (a == QX_KEY_RETURN && (held(d, 308) || held(d, 309)) &&
            d->state == QX_DISPSTATE_OPEN && !(d->flags & QX_DISP_NOMODESWITCH) &&
            !(qxUpcalls.requesterOpenOn && qxUpcalls.requesterOpenOn(d)))
            qxPostEvent(d, 13, 0, 0, 0, nullptr);
        break;
    case 5: posted = qxPostEvent(d, 7, 0, 0, 0, nullptr); break;
    case 6:
        if (qxUpcalls.displayRescale) {
            if (int r = qxUpcalls.displayRescale(d, (int)a, (int)b, 100000, 100000))
                return r;
        } else {
            d->width = (int32_t)a;
            d->height = (int32_t)b;
        }
        posted = qxPostEvent(d, 5, 0, 0, 0, nullptr);
        if (posted == 0)
            posted = 1; // a scaled display takes no size event
        break;
    case 7:
        d->x = (int32_t)a;
        d->y = (int32_t)b;
        posted = qxPostEvent(d, 4, 0, 0, 0, nullptr);
        break;
    case 8:
        if (a) {
            d->state = QX_DISPSTATE_OPEN;
            if (qxUpcalls.refreshWholeDisplay)
                qxUpcalls.refreshWholeDisplay(d, 2);
        } else {
            d->state = QX_DISPSTATE_MINIMIZED;
        }
        posted = qxPostEvent(d, a ? 10 : 9, 0, 0, 0, nullptr);
        break;
    case 9:
        d->input.active = a != 0;
        posted = qxPostEvent(d, a ? 8 : 6, 0, 0, 0, nullptr);
        break;
    case 10: posted = qxPostEvent(d, 28, 0, 0, a, nullptr); break;
    case 11: posted = qxPostEvent(d, 14, a, b, 0, args->pointer); break;
    case 12:
        // The raw block ends at 628 bytes: larger codes are posted only.
        if (a < QX_RAWKEY_BASE)
            d->input.keys[QX_RAWKEY_BASE + a] = (uint8_t)(b != 0);
        posted = qxPostEvent(d, 29, b, 0, a, nullptr);
        break;
    case 13: posted = qxPostEvent(d, (int32_t)b >= 1 ? 11 : 12, 0, 0, 0, nullptr); break;
    default:
        if (code < QX_FIRST_CUSTOM_EVENT)
            return ERR_ADDSYSEVENT;
        posted = qxPostEvent(d, code, 0, 0, 0, args->pointer);
        break;
    }
    x11WakeEventLoop();
    if (posted < 0)
        return ERR_ADDSYSEVENT;
    return 0;
}

int qxHostEvent(uint32_t code, qxHostEventArgs *args)
{
    return qxHostEventL(qxMainState, code, args);
}
}

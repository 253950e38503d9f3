// The move-object engine: moves a brush, anim, text object, layer, sprite or
// a transition's picture along a straight line (with an optional effect),
// synchronously, as an async-draw object or embedded in a transition that
// calls the step itself.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"
#include "platform/qx_sync.h"

typedef struct lua_State lua_State;
struct qxBitMap;
struct qxLayer;

// Move effects.
enum : uint32_t {
    QX_MOVE_NONE = 0, QX_MOVE_BOUNCE = 1, QX_MOVE_SMOOTHOUT = 2, QX_MOVE_DAMPED = 3, QX_MOVE_SINE = 4,
    QX_MOVE_BIGSINE = 5, QX_MOVE_LOWERCURVE = 6, QX_MOVE_UPPERCURVE = 7,
};

// Object kinds a move drives; 7 is a transition's picture (or layer) that
// the embedding transition hands over.
enum : uint32_t {
    QX_MOVE_BRUSH = 3, QX_MOVE_ANIM = 4, QX_MOVE_PICTURE = 7, QX_MOVE_TEXTOBJECT = 8, QX_MOVE_LAYER = 22,
    QX_MOVE_SPRITE = 32,
};

enum : int { QX_MOVE_WAVE_ENTRIES = 79 };

// One running move; zero-filled by whoever prepares it. For an embedded
// move the transition fills L, type 7, embedded 1, either layer or the
// three planes, the four coordinates, fx, speed, width, height and
// blitflags, then calls qxMoveObject, which sets step and free.
struct qxMoveState {
    lua_State *L;
    qxBitMap *bitmap, *mask, *alpha; // the object's current frame
    qxBitMap *background, *work;     // both of the BGPic's size; layers off only
    uint32_t type;
    qxObjectRef id;
    uint32_t fx;
    int32_t x, y, targetx, targety;
    int32_t prevx, prevy;
    int32_t width, height;
    int32_t step;       // pixels per frame along the major axis (signed)
    int32_t wavestep;   // the step of the horizontal wave effects
    int32_t bounceunit; // the step as given
    int32_t delay;      // frame delay in ms; -4 = the anim's own delays
    uint32_t phase;     // 0..9
    int32_t slowdistance, slowamount;
    int32_t frame, framecount; // 0-based; count 0 = no frame animation
    uint32_t direction;        // 0 up, 1 up-right, ... 7 up-left
    int32_t waveindexstep, waveindex;
    double wave[QX_MOVE_WAVE_ENTRIES];
    void *anim;
    qxLayer *layer;
    int32_t layerindex; // 1-based
    uint32_t async, embedded, perframe;
    qxTimeVal nexttime;
    uint32_t blitflags;
    int (*stepfn)(qxMoveState *state, int *done);
    void (*freefn)(qxMoveState *state, int flags);
    uint32_t *usecounter;       // the object's lock, raised while the move runs
    uint32_t **borrowedcounters; // unused: a sprite's lock covers those it borrows
    uint32_t frameswitched;
    uint32_t yaxis; // 1: y is the major axis
    int32_t pathindex;
    int32_t *path; // the minor coordinate for each major-axis pixel
    int32_t pathlength;
    uint32_t reverse; // 1: the major coordinate decreases

    // The request: start and end as given, speed and animspeed as given.
    int32_t x1, y1, x2, y2;
    int32_t speed, animspeed;
    // Set by the engine when it allocated the record (the Move commands);
    // an embedded record stays the transition's and is never freed here.
    uint32_t owned;
    void *planes; // frames loaded one at a time, and other private data
};

extern "C" {
// Prepares and starts a move; 0 or an error code. Embedded: prepares the
// path, stores step and free and returns. Async: leaves the async-draw
// handle on the VM stack.
int qxMoveObject(qxMoveState *state);
// One frame of the move; *done becomes 1 at the end. 0 or an error code.
int qxMoveStep(qxMoveState *state, int *done);
// The number of steps a prepared move takes from its start to its end.
int32_t qxMoveStepCount(const qxMoveState *state);
// Puts a prepared move back at its start and on by n steps, then draws
// the object once where it stands: the same place as n calls of the step.
// *done as the n-th step would set it; 0 or an error code.
int qxMoveRestart(qxMoveState *state, int32_t n, int *done);
// Releases what the move holds; the record itself only when owned is set
// (the Move commands allocate theirs), never an embedding transition's.
void qxFreeMoveState(qxMoveState *state, int flags);
// The async-draw method: op 6 writes the driven layer into *(qxLayer **)
// argument; op 0 with the driven layer follows its previous link.
intptr_t qxMoveMethod(int op, void *argument, void *state);
}

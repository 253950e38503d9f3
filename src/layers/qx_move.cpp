// The move-object engine.
#include "layers/qx_move.h"

#include <cstdlib>

#include "platform/qx_errcodes.h"

int qxMoveObject(qxMoveState *) { return ERR_UNIMPLCMD; }

int qxMoveStep(qxMoveState *, int *done)
{
    if (done) *done = 1;
    return ERR_UNIMPLCMD;
}

void qxFreeMoveState(qxMoveState *state, int)
{
    if (state && !state->owned) std::free(state);
}

intptr_t qxMoveMethod(int, void *, void *) { return 0; }

// Process-wide registers of the script VM that the runtime reads and writes:
// the abort flag, the Gosub label registers and the error bookkeeping.
#pragma once
#include <cstdint>

#include "core/vm/lua.h"

extern "C" {

// When set, every running interpreter returns at its next instruction and
// every hook call throws 1003.
extern int qxVmAbort;

// Set by a command before it returns -1 or -2: distance in instructions from
// the instruction after the call to the target label.
extern int32_t qxVmLabelOffset;

// Index of the instruction after the latest call, counted from the first
// instruction of the function the running interpreter started in.
extern int32_t qxVmCallPosition;

// Set by every throw; lua_call reads it.
extern int qxVmErrorThrown;

// Script line of the latest error, -1 when none.
extern int qxVmErrorLine;

// The Gosub return stack shared by all frames.
#define QX_GOSUB_DEPTH 4096
extern int qxVmGosubCount;

// The line hook runs at most once per this many instructions, at the first
// new line after them (1: at every new line). For a hook that only polls
// for events, so that polling does not slow down tight script loops; the
// count hook and the abort flag are unaffected.
extern int qxVmLineHookStride;
// The stride the player uses with its event-polling line hook.
#define QX_POLL_HOOK_STRIDE 1000

// When set, the line hook's stretches of qxVmLineHookStride instructions
// last until the next qxVmRequestTrace instead: for an event-polling hook
// whose every event source asks for the poll, so that a busy script runs
// with no per-instruction check at all. The count hook is unaffected.
extern int qxVmPollOnRequest;

// When set, the line hook runs at every new line whatever the stride and
// the requests: for line hooks that count or step lines. Set it, then call
// qxVmRequestTrace so that an interpreter between requests takes it up.
extern int qxVmEveryLine;

// Has every running interpreter run its trace step (abort flag, hooks)
// before its next instruction. Safe from any thread and from a signal
// handler.
void qxVmRequestTrace(void);

// Test mode: when set, every allocation point that may collect does, so
// that a missed root frees a reachable object at once.
extern int qxVmGcStress;

// The table walker "for k, v in t" uses when the script has no global
// "next" (the table library's NextItem; installed by main/).
extern lua_CFunction qxVmNextItem;

// Installed by the plug-in host for its call wrappers (none by default).
// Claim: runs the handler through the first wrapper that watches it, stores
// its result and returns 1; returns 0 when no wrapper claims the handler.
extern int (*qxVmClaimHandler)(lua_State *L, lua_CFunction handler, int *result);
// Told about every throw inside a protected call before it unwinds.
extern void (*qxVmThrowNotify)(lua_State *L, int code);

} // extern "C"

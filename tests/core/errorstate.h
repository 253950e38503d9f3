// Resets the process-wide error state between tests that share one process.
#pragma once
#include "core/commands/qx_cmdcall.h"
#include "core/errors/qx_errors.h"
#include "core/vm/qx_vmregs.h"

namespace teststate {

inline void resetErrorState() {
    qxVmAbort = 0;
    qxVmGosubCount = 0;
    qxVmErrorLine = -1;
    qxVmErrorThrown = 0;
    qxLastError = 0;
    qxRaiseOnError = 1;
    qxCallbackNesting = 0;
    qxErrorHandlerRef = -1;
    qxErrorHandlerRunning = 0;
    qxResetErrorFunction();
}

} // namespace teststate

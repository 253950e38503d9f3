// Command table of the "math" library.
#pragma once

#include "core/commands/qx_commands.h"

extern const qxCommandDef *const qxMathCommandTable;
// Its names, prepared when the program is built.
extern const qxNames qxMathCommandNames;

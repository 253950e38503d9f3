// Command table of the "math" library.
#pragma once

#include "core/qx_commands.h"

extern const qxCommandDef qxMathCommandTable[];

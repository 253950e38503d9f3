// The player: runs the applet named on the command line or appended to
// this executable.
#include <cstdlib>
#include <cstring>

#include "core/plugins/qx_hosttable.h"
#include "core/runtime/qx_startup.h"
#include "display/qx_bitmaphost.h"
#include "platform/qx_platform.h"

int main(int argc, char **argv)
{
    qxArgc = argc;
    qxArgv = argv;
    // A program started through PATH has no usable argv[0]; a linked
    // executable must still find its own file.
    if (!realpath(argv[0], qxProgramPath) && !realpath("/proc/self/exe", qxProgramPath))
        std::strncpy(qxProgramPath, argv[0], sizeof qxProgramPath - 1);
    qxInstallBitMapHostSlots(qxHostGraphics);
    return qxStartup(argc, argv);
}

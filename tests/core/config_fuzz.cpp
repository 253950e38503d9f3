// Feeds arbitrary bytes to the configuration and command-line parsers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/runtime/qx_options.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');

    static qxStartupInfo startup;
    static qxAppletInfo applet;
    qxOptionValues vals{};
    startup = qxStartupInfo{};
    applet = qxAppletInfo{};
    qxInitDisplayDefaults(&applet);
    if (qxParseConfigText(text.data(), &vals, &startup) == 0) {
        // ENCODING and TEMPDIR change process state; keep the run repeatable.
        vals.slot[QX_OPT_ENCODING] = nullptr;
        vals.slot[QX_OPT_TEMPDIR] = nullptr;
        qxApplyOptions(&vals, &startup, &applet);
    }
    qxFreeNameValues(&startup);
    qxFreeOptionSettings();

    std::vector<char> line(data, data + size);
    line.push_back('\0');
    qxOptionValues cmd{};
    qxParseCommandLine(line.data(), &cmd, &startup);
    qxFreeNameValues(&startup);

    // Words split at zero bytes go through join and parse; a single word that
    // is not an option must come back unchanged as the applet name.
    std::vector<char> copy(data, data + size);
    copy.push_back('\0');
    std::vector<char *> argv{const_cast<char *>("fuzz")};
    for (char *p = copy.data(); p < copy.data() + size;) {
        argv.push_back(p);
        p += std::strlen(p) + 1;
    }
    char *joined = qxJoinCommandLine(int(argv.size()), argv.data());
    if (joined) {
        qxOptionValues again{};
        int err = qxParseCommandLine(joined, &again, &startup);
        if (argv.size() == 2 && argv[1][0] != '-' &&
            (err != 0 || std::strcmp(again.slot[QX_OPT_APPLET], argv[1]) != 0))
            std::abort();
        qxFreeNameValues(&startup);
        qxFree(joined);
    }
    return 0;
}

// Writes the initializer of the reserved icon area: the marker, then the
// player's own icons as records. Usage: icongen OUTPUT
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/x11/x11_builtinicon.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: icongen OUTPUT\n");
        return 2;
    }
    static const char marker[] = "___QXSICONRESERVED__";
    std::vector<uint8_t> area(sizeof marker - 1 + x11BuiltInIconBytes);
    std::memcpy(area.data(), marker, sizeof marker - 1);
    x11WriteBuiltInIcons(area.data() + sizeof marker - 1);
    FILE *out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    for (size_t i = 0; i < area.size(); i++)
        std::fprintf(out, "%u,%s", area[i], i % 32 == 31 ? "\n" : "");
    std::fputc('\n', out);
    return std::fclose(out) == 0 ? 0 : 1;
}

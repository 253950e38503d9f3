// Arbitrary TARGETS lists, of any length and with any atoms: the chooser
// names one of the known targets or none, and reads only the given items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/x11/x11_clipboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Small atom values so the known ones turn up often.
    std::vector<Atom> list(size / 2);
    for (size_t i = 0; i < list.size(); ++i) list[i] = Atom(data[2 * i] % 8 + (data[2 * i + 1] & 1 ? 0 : 256));
    const Atom utf8 = 1, plain = 2, png = size & 1 ? 3 : 0;
    const Atom t = x11ChooseTarget(list.data(), list.size(), utf8, plain, png);
    if (t != 0 && t != utf8 && t != plain && (t != png || !png))
        abort();
    bool hasUtf8 = false;
    for (Atom a : list) hasUtf8 |= a == utf8;
    if (hasUtf8 != (t == utf8))
        abort();
    return 0;
}

// Builds a player from arbitrary bytes (most given the module signature),
// renders ten seconds with jumps to random positions, and follows it with
// a second state. No crash, no read outside the file or the state.
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/qx_modplayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    if (size >= 1084 && data[0] % 8) std::memcpy(file.data() + 1080, "M.K.", 4);
    uint32_t need = qxModSetup(nullptr, file.data(), uint32_t(file.size()), 48000);
    if (!need) return 0;
    std::vector<uint64_t> a((need + 7) / 8), b((need + 7) / 8);
    auto *p = reinterpret_cast<qxModPlayer *>(a.data());
    auto *q = reinterpret_cast<qxModPlayer *>(b.data());
    if (qxModSetup(p, file.data(), uint32_t(file.size()), 48000) != 1) __builtin_trap();
    qxModSetup(q, file.data(), uint32_t(file.size()), 48000);
    std::vector<int16_t> out(4800 * 2);
    for (int i = 0; i < 100; i++) {
        if (size > 20 && data[(i * 7) % size] % 5 == 0) {
            int at = data[(i * 13 + 1) % size];
            qxModPosition(p, 0, at);
            qxModPosition(q, 0, at);
        }
        qxModMix(p, out.data(), out.data() + 1, 4, 4800, 1, 16, 2);
        qxModMix(q, nullptr, nullptr, 4, 4800, 1, 16, 2);
        if (p->songPosition != q->songPosition || p->row != q->row) __builtin_trap();
    }
    return 0;
}

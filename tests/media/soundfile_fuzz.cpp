// Feeds arbitrary bytes, as a memory file, to the sound stream opener and
// its three readers: open, read in pieces, seek back, read again and decode
// whole. Errors only; no crash, no read outside the file, no leak.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/files/qx_chunkname.h"
#include "media/qx_sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Most inputs get one of the three signatures, so the readers are reached.
    std::vector<uint8_t> file(data, data + size);
    static const char *const heads[] = {"FORM\0\0\0\0" "8SVX", "FORM\0\0\0\0" "16SV", "RIFF\0\0\0\0" "WAVE"};
    if (size && data[0] % 4 != 3 && size >= 12) std::memcpy(file.data(), heads[data[0] % 4], 12);
    qxMemoryName name;
    qxMakeMemoryName(&name, file.data(), uint32_t(file.size()));
    qxSoundStream *s = nullptr;
    if (qxOpenSoundStream(reinterpret_cast<const char *>(&name), nullptr, 0, &s) == 0) {
        std::vector<uint8_t> buffer(64 * 4);
        int end = 0;
        for (int i = 0; i < 8 && !end; i++) qxReadSoundStream(s, buffer.data(), 64, &end);
        qxSeekSoundStream(s, s->totalFrames / 2);
        qxReadSoundStream(s, buffer.data(), 64, &end);
        qxCloseSoundStream(s);
    }
    qxSound *sound = nullptr;
    if (qxDecodeSound(reinterpret_cast<const char *>(&name), nullptr, &sound) == 0) qxFreeSound(sound);
    return 0;
}

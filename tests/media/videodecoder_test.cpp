// A video decoder plug-in that misbehaves: failures, oversized packets,
// null pictures, short rows and too much sound are dropped, the packets it
// hands out are all given back, a good picture lands in the slot in the
// player's layout, and a decoder that only fails still ends the stream.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "media/qx_video.h"
#include "media/qx_videodecoder.h"

namespace {

enum Step { FAIL, HUGE, NULLPIC, SHORTROWS, SOUND, GOOD, END, ALWAYSFAIL };

struct Script {
    std::vector<Step> steps;
    size_t at;
    int outstanding; // packets handed out and not yet freed
    uint32_t pixels[2 * 4];
};
Script script;

int nextPacket(void *, void **packet, int *isAudio, uint32_t *size, double *time)
{
    Step s = script.at < script.steps.size() ? script.steps[script.at] : END;
    if (s != ALWAYSFAIL) script.at++;
    if (s == END) return -1;
    if (s == FAIL || s == ALWAYSFAIL) return 3;
    *packet = new Step(s);
    script.outstanding++;
    *isAudio = s == SOUND;
    *size = s == HUGE ? 2000000 : 16;
    *time = 0.5;
    return 0;
}

void freePacket(void *, void *packet)
{
    delete static_cast<Step *>(packet);
    script.outstanding--;
}

int decodeVideo(void *, void *packet, qxVideoFrameRecord *frame, double *time)
{
    Step s = *static_cast<Step *>(packet);
    frame->pixels = s == NULLPIC ? nullptr : script.pixels;
    frame->bytesPerRow = s == SHORTROWS ? 4 : 16;
    *time = 1.25;
    return 0;
}

int decodeAudio(void *, void *, uint8_t *buffer, uint32_t *size)
{
    // Stereo: 7 bytes hold one whole frame.
    const int16_t frame[2] = {1234, -1234};
    std::memcpy(buffer, frame, 4);
    *size = 7;
    return 0;
}

struct Player {
    qxPluginInfo info{};
    qxVideo v{};
    std::vector<uint32_t> slot;
    std::vector<int16_t> sound;

    explicit Player(uint32_t swapped)
    {
        info.entry[QX_EP_NextPacket] = reinterpret_cast<void *>(nextPacket);
        info.entry[QX_EP_FreePacket] = reinterpret_cast<void *>(freePacket);
        info.entry[QX_EP_DecodeVideoFrame] = reinterpret_cast<void *>(decodeVideo);
        info.entry[QX_EP_DecodeAudioFrame] = reinterpret_cast<void *>(decodeAudio);
        v.kind = QX_VIDEO_PLUGIN;
        v.plugin = &info;
        v.swapped = swapped;
        v.width = 4, v.height = 2, v.frames = 1;
        v.hasAudio = 1, v.audioRate = 8000, v.audioChannels = 2;
        slot.assign(size_t(4 + 64) * 2, 0);
        v.slot = slot.data(), v.slotPitch = 4 + 64;
        v.soundOut = &sound;
    }
};

TEST(VideoPluginDecoder, BadOutputIsDroppedAndPacketsGoBack)
{
    for (uint32_t swapped : {0u, 1u}) {
        script = {{FAIL, HUGE, NULLPIC, SHORTROWS, SOUND, GOOD, END}, 0, 0, {}};
        for (uint32_t i = 0; i < 8; i++) {
            const uint32_t c = 0x10203 * (i + 1);
            script.pixels[i] = swapped ? __builtin_bswap32(c) : c;
        }
        Player p(swapped);
        ASSERT_EQ(qxVideoDecodeNext(&p.v), 0);
        EXPECT_EQ(p.v.position, 1u);
        EXPECT_EQ(p.slot[0], 0x10203u);
        EXPECT_EQ(p.slot[p.v.slotPitch + 3], 0x10203u * 8);
        EXPECT_EQ(p.sound, (std::vector<int16_t>{1234, -1234}));
        EXPECT_EQ(qxVideoDecodeNext(&p.v), 1); // the end
        EXPECT_EQ(script.outstanding, 0);
    }
}

TEST(VideoPluginDecoder, ADecoderThatOnlyFailsEndsTheStream)
{
    script = {{ALWAYSFAIL}, 0, 0, {}};
    Player p(0);
    EXPECT_EQ(qxVideoDecodeNext(&p.v), 1);
    EXPECT_EQ(p.v.position, 0u);
}

} // namespace

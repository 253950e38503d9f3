// A video decoder plug-in that misbehaves: failures, oversized packets,
// null pictures, short rows and too much sound are dropped, the packets it
// hands out are all given back, a good picture lands in the slot in the
// player's layout (byte-swapped words swapped back, YUV planes converted:
// studio black and white), and a single-picture decode (GetVideoFrame,
// DumpVideo) gives up on a decoder that only fails rather than hold the
// script; playback retries such reads at the frame pace (the
// plugin_decoder e2e listing).
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
    uint8_t y[2 * 4], u[2], v[2];
    bool yuv;
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

int decodeVideo(void *, void *packet, qxVideoPictureRecord *frame, double *time)
{
    Step s = *static_cast<Step *>(packet);
    if (script.yuv) {
        frame->planes[0] = script.y, frame->planes[1] = script.u, frame->planes[2] = s == NULLPIC ? nullptr : script.v;
        frame->strides[0] = s == SHORTROWS ? 3 : 4, frame->strides[1] = frame->strides[2] = 2;
    } else {
        frame->planes[0] = s == NULLPIC ? nullptr : reinterpret_cast<const uint8_t *>(script.pixels);
        frame->strides[0] = s == SHORTROWS ? 4 : 16;
    }
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
        script = {{FAIL, HUGE, NULLPIC, SHORTROWS, SOUND, GOOD, END}, 0, 0, {}, {}, {128, 128}, {128, 128}, !swapped};
        for (uint32_t i = 0; i < 8; i++) {
            script.pixels[i] = __builtin_bswap32(0x10203 * (i + 1));
            script.y[i] = i < 4 ? 235 : 16;
        }
        Player p(swapped);
        ASSERT_EQ(qxVideoDecodeNext(&p.v), 0);
        EXPECT_EQ(p.v.position, 1u);
        EXPECT_EQ(p.slot[0], swapped ? 0x10203u : 0xFFFFFFu);
        EXPECT_EQ(p.slot[p.v.slotPitch + 3], swapped ? 0x10203u * 8 : 0u);
        EXPECT_EQ(p.sound, (std::vector<int16_t>{1234, -1234}));
        EXPECT_EQ(qxVideoDecodeNext(&p.v), 1); // the end
        EXPECT_EQ(script.outstanding, 0);
    }
}

TEST(VideoPluginDecoder, ASinglePictureDecodeGivesUpOnADecoderThatOnlyFails)
{
    script = {{ALWAYSFAIL}, 0, 0, {}, {}, {}, {}, false};
    Player p(0);
    EXPECT_EQ(qxVideoDecodeNext(&p.v), 1);
    EXPECT_EQ(p.v.position, 0u);
}

} // namespace

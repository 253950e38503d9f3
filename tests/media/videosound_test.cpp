// The video sound FIFO: chunks come out in order and whole-framed, an empty
// or unstarted FIFO drains nothing (the callback plays silence), the
// capacity never passes the store even for 0x40000-byte chunks, the append
// waits for room and gives up on a stop, and a writer and a reader on two
// threads lose and repeat nothing.
#include <atomic>
#include <numeric>
#include <thread>

#include "media/qx_videosound.h"
#include "soundtest.h"

namespace {

struct Fifo : ::testing::Test {
    qxVideoSoundFifo f;
    void TearDown() override { qxVideoFifoRelease(&f); }
};

std::vector<uint8_t> pattern(size_t bytes, uint32_t seed)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; i++) v[i] = uint8_t((i * 131 + seed * 7) >> 3);
    return v;
}

TEST_F(Fifo, OrderUnderrunAndCapacity)
{
    ASSERT_EQ(qxVideoFifoInit(&f, 0x40000, 2, 48000, 0), 0);
    EXPECT_EQ(f.capacity, QX_VIDEOSOUND_STORE); // 2 x 0x40000 would pass the store
    uint8_t out[64];
    EXPECT_EQ(qxVideoFifoDrain(&f, out, sizeof out), 0u); // not started: silence
    auto a = pattern(1000, 1), b = pattern(403, 2);
    ASSERT_EQ(qxVideoFifoAppend(&f, a.data(), uint32_t(a.size())), 0);
    ASSERT_EQ(qxVideoFifoAppend(&f, b.data(), 403), 0); // a partial frame is dropped
    EXPECT_EQ(f.fill, 1400u);
    std::vector<uint8_t> got(2000);
    uint32_t n = qxVideoFifoDrain(&f, got.data(), 602); // whole frames only
    EXPECT_EQ(n, 600u);
    n += qxVideoFifoDrain(&f, got.data() + n, 2000);
    EXPECT_EQ(n, 1400u);
    a.insert(a.end(), b.begin(), b.begin() + 400);
    got.resize(n);
    EXPECT_EQ(got, a);
    EXPECT_EQ(qxVideoFifoDrain(&f, got.data(), 100), 0u); // underrun
    qxVideoFifoRelease(&f);

    // Small chunks: twice a chunk.
    ASSERT_EQ(qxVideoFifoInit(&f, 4096, 1, 22050, 1), 0);
    EXPECT_EQ(f.capacity, 8192u);
}

TEST_F(Fifo, FullFifoWaitsAndStops)
{
    ASSERT_EQ(qxVideoFifoInit(&f, 4000, 2, 48000, 0), 0);
    auto big = pattern(20000, 3);
    // Nobody drains: the append fills to capacity, then gives up on the stop.
    std::thread stopper([this] {
        qxDelay(30);
        f.stopped.store(1);
    });
    EXPECT_EQ(qxVideoFifoAppend(&f, big.data(), uint32_t(big.size())), 1);
    stopper.join();
    EXPECT_EQ(f.fill, f.capacity);
    std::vector<uint8_t> got(f.capacity);
    EXPECT_EQ(qxVideoFifoDrain(&f, got.data(), f.capacity), 8000u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), big.begin()));
}

TEST_F(Fifo, WriterAndReaderThreads)
{
    // The native rule: append only while at most half full.
    ASSERT_EQ(qxVideoFifoInit(&f, 0x40000, 2, 48000, 1), 0);
    const size_t total = 3 * 1024 * 1024;
    auto data = pattern(total, 4);
    std::thread writer([&] {
        for (size_t at = 0; at < total; at += 0x40000)
            ASSERT_EQ(qxVideoFifoAppend(&f, data.data() + at, uint32_t(std::min<size_t>(0x40000, total - at))), 0);
    });
    std::vector<uint8_t> got;
    std::vector<uint8_t> buf(4096 * 4);
    while (got.size() < total) {
        uint32_t n = qxVideoFifoDrain(&f, buf.data(), uint32_t(buf.size()));
        got.insert(got.end(), buf.begin(), buf.begin() + n);
        if (!n) std::this_thread::yield();
    }
    writer.join();
    EXPECT_TRUE(got == data);
}

} // namespace

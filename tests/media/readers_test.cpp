// The 8SVX, 16SV and WAVE readers against files and decodings made by sox,
// sndfile-convert and ffmpeg, and against damaged files.
#include <cstring>

#include "core/errors/qx_errors.h"
#include "media/qx_sound.h"
#include "soundtest.h"

using namespace soundtest;

namespace {

struct Decoded {
    int error = -1;
    qxSound *sound = nullptr;
    ~Decoded() { qxFreeSound(sound); }
    std::vector<uint8_t> bytes() const
    {
        return {sound->data, sound->data + size_t(sound->frames) * sound->bytesPerFrame};
    }
};

void decode(const std::string &name, Decoded &d)
{
    d.error = qxDecodeSound(name.c_str(), nullptr, &d.sound);
}

void be16(std::vector<uint8_t> &v, uint32_t x) { v.push_back(uint8_t(x >> 8)); v.push_back(uint8_t(x)); }
void be32(std::vector<uint8_t> &v, uint32_t x) { be16(v, x >> 16); be16(v, x & 0xFFFF); }
void id(std::vector<uint8_t> &v, const char *s)
{
    for (int i = 0; i < 4; i++) v.push_back(uint8_t(s[i]));
}

// An IFF sound file: FORM type, VHDR at the given rate, extra chunks, then
// BODY holding body (planar when stereo).
std::vector<uint8_t> iffFile(const char *type, uint32_t rate, bool stereo, const std::vector<uint8_t> &body,
                             const std::vector<std::vector<uint8_t>> &extra = {})
{
    std::vector<uint8_t> v;
    id(v, "FORM");
    be32(v, 0);
    id(v, type);
    id(v, "VHDR");
    be32(v, 20);
    for (int i = 0; i < 12; i++) v.push_back(0);
    be16(v, rate);
    v.push_back(1);
    v.push_back(0);
    be32(v, 0x10000);
    for (const auto &chunk : extra) v.insert(v.end(), chunk.begin(), chunk.end());
    if (stereo) {
        id(v, "CHAN");
        be32(v, 4);
        be32(v, 6);
    }
    id(v, "BODY");
    be32(v, uint32_t(body.size()));
    v.insert(v.end(), body.begin(), body.end());
    uint32_t size = uint32_t(v.size() - 8);
    v[4] = uint8_t(size >> 24); v[5] = uint8_t(size >> 16); v[6] = uint8_t(size >> 8); v[7] = uint8_t(size);
    return v;
}

} // namespace

TEST(SoundReaders, WaveFormatsEqualSoxDecoding)
{
    if (!have("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    for (const char *fmt : {"-b 8 -c 1", "-b 8 -c 2", "-b 16 -c 1", "-b 16 -c 2"}) {
        SCOPED_TRACE(fmt);
        ASSERT_TRUE(dir.run(std::string("sox -n -r 11025 ") + fmt + " in.wav synth 0.2 sine 300 sine 500 vol 0.9"));
        ASSERT_TRUE(dir.run("sox in.wav -t raw ref.raw"));
        Decoded d;
        decode(dir / "in.wav", d);
        ASSERT_EQ(d.error, 0);
        EXPECT_EQ(d.sound->frequency, 11025u);
        EXPECT_EQ(d.bytes(), readFile(dir / "ref.raw"));
    }
    // An odd chunk with and without its pad byte before a "data" chunk of 64
    // bytes: the id read one byte further ("ata@") is printable as well.
    ASSERT_TRUE(dir.run("sox -r 8000 -n -r 8000 -b 8 -c 1 -t raw pcm.raw synth 64s sine 300"));
    auto pcm = readFile(dir / "pcm.raw");
    ASSERT_EQ(pcm.size(), 64u);
    auto le = [](std::vector<uint8_t> &v, uint32_t x, int n) {
        for (int i = 0; i < n; i++) v.push_back(uint8_t(x >> (8 * i)));
    };
    for (bool pad : {true, false}) {
        SCOPED_TRACE(pad ? "padded" : "unpadded");
        std::vector<uint8_t> v;
        id(v, "RIFF"); le(v, 0, 4); id(v, "WAVE");
        id(v, "fmt "); le(v, 16, 4); le(v, 1, 2); le(v, 1, 2); le(v, 8000, 4); le(v, 8000, 4); le(v, 1, 2); le(v, 8, 2);
        id(v, "junk"); le(v, 3, 4); v.insert(v.end(), {'a', 'b', 'c'});
        if (pad) v.push_back(0);
        id(v, "data"); le(v, 64, 4); v.insert(v.end(), pcm.begin(), pcm.end());
        for (int i = 0; i < 4; i++) v[4 + i] = uint8_t((v.size() - 8) >> (8 * i));
        writeFile(dir / "odd.wav", v);
        Decoded d;
        decode(dir / "odd.wav", d);
        ASSERT_EQ(d.error, 0);
        EXPECT_EQ(d.bytes(), pcm);
    }
}

TEST(SoundReaders, IffFilesEqualReferenceDecodings)
{
    if (!have("sox") || !have("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg is not installed";
    ScratchDir dir;
    // sox writes 8SVX (stereo planar with CHAN); the sample data becomes unsigned.
    for (const char *channels : {"1", "2"}) {
        ASSERT_TRUE(dir.run(std::string("sox -n -r 8000 -b 8 -c ") + channels + " in.8svx synth 0.1 sine 200 sine 700"));
        ASSERT_TRUE(dir.run("sox in.8svx -t raw -e unsigned -b 8 ref.raw"));
        Decoded d;
        decode(dir / "in.8svx", d);
        ASSERT_EQ(d.error, 0);
        EXPECT_EQ(d.sound->channels, uint32_t(atoi(channels)));
        EXPECT_EQ(d.bytes(), readFile(dir / "ref.raw"));
    }
    // A mono 16SV with NAME and ANNO chunks from libsndfile.
    if (have("sndfile-convert")) {
        ASSERT_TRUE(dir.run("sox -n -r 8000 -b 16 -c 1 m.wav synth 0.1 sine 300"));
        ASSERT_TRUE(dir.run("sndfile-convert -pcm16 m.wav m.svx && sox m.wav -t raw -B -e signed -b 16 mref.raw"));
        Decoded d;
        decode(dir / "m.svx", d);
        ASSERT_EQ(d.error, 0);
        EXPECT_EQ(d.sound->flags, QX_SOUND_BIGENDIAN | QX_SOUND_SIGNED);
        EXPECT_EQ(d.bytes(), readFile(dir / "mref.raw"));
    }
    // Stereo 16SV made here, with an odd-sized chunk whose pad byte is
    // present, and one whose pad byte is missing; ffmpeg decodes it planar.
    std::vector<uint8_t> body;
    for (int side = 0; side < 2; side++)
        for (int i = 0; i < 500; i++) be16(body, uint16_t(side ? -i * 37 : i * 53));
    std::vector<uint8_t> padded, unpadded;
    id(padded, "NAME"); be32(padded, 3); padded.insert(padded.end(), {'a', 'b', 'c', 0});
    id(unpadded, "ANNO"); be32(unpadded, 5); unpadded.insert(unpadded.end(), {'h', 'e', 'l', 'l', 'o'});
    for (const auto &extra : {padded, unpadded}) {
        writeFile(dir / "s.16sv", iffFile("16SV", 22050, true, body, {extra}));
        Decoded d;
        decode(dir / "s.16sv", d);
        ASSERT_EQ(d.error, 0);
        EXPECT_EQ(d.sound->frames, 500u);
        if (extra == padded) {
            ASSERT_TRUE(dir.run("ffmpeg -v quiet -y -i s.16sv -f s16be ref16.raw"));
            EXPECT_EQ(d.bytes(), readFile(dir / "ref16.raw"));
        }
        EXPECT_EQ(d.sound->data[2], body[1000]); // first right sample, big-endian
    }
}

TEST(SoundReaders, DamagedAndUnsupportedFiles)
{
    ScratchDir dir;
    std::vector<uint8_t> body(1000, 0x10);
    // A VHDR rate of 0, a VHDR size other than 20, compression: refused.
    auto rate0 = iffFile("8SVX", 0, false, body);
    auto size21 = iffFile("8SVX", 8000, false, body);
    size21[19] = 21;
    auto packed = iffFile("8SVX", 8000, false, body);
    packed[35] = 1;
    for (const auto &file : {rate0, size21, packed}) {
        writeFile(dir / "bad.8svx", file);
        Decoded d;
        decode(dir / "bad.8svx", d);
        EXPECT_EQ(d.error, ERR_OPENSOUND2);
    }
    // A BODY longer than the file: the frames held, of each plane.
    auto stereo = iffFile("8SVX", 8000, true, body);
    stereo.resize(stereo.size() - 100);
    writeFile(dir / "cut.8svx", stereo);
    Decoded cut;
    decode(dir / "cut.8svx", cut);
    ASSERT_EQ(cut.error, 0);
    EXPECT_EQ(cut.sound->frames, 400u);

    if (!have("sox") || !have("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg is not installed";
    // 24-bit, float, extensible: no code for them.
    ASSERT_TRUE(dir.run("sox -n -r 8000 -b 24 -c 1 b24.wav synth 0.1 sine 300"));
    ASSERT_TRUE(dir.run("sox -n -r 8000 -e float -b 32 -c 1 f.wav synth 0.1 sine 300"));
    ASSERT_TRUE(dir.run("sox -n -r 8000 -b 16 -c 3 x3.wav synth 0.1 sine 300"));
    for (const char *name : {"b24.wav", "f.wav", "x3.wav"}) {
        Decoded d;
        decode(dir / name, d);
        EXPECT_EQ(d.error, ERR_OPENSOUND2) << name;
    }
    // ffmpeg writing to a pipe leaves the data size at 0xFFFFFFFF.
    ASSERT_TRUE(dir.run("sox -n -r 8000 -b 16 -c 2 in.wav synth 0.1 sine 300 && "
                        "ffmpeg -v quiet -i in.wav -f wav - | cat > piped.wav"));
    auto piped = readFile(dir / "piped.wav");
    ASSERT_GT(piped.size(), 100u);
    Decoded d;
    decode(dir / "piped.wav", d);
    ASSERT_EQ(d.error, 0);
    EXPECT_EQ(d.sound->frames, 800u);
    // A truncated WAVE plays what is there and reports its end.
    piped.resize(piped.size() - 401);
    writeFile(dir / "short.wav", piped);
    qxSoundStream *s = nullptr;
    ASSERT_EQ(qxOpenSoundStream((dir / "short.wav").c_str(), nullptr, 0, &s), 0);
    std::vector<uint8_t> buffer(4000);
    int end = 0;
    uint32_t total = 0, n;
    while ((n = qxReadSoundStream(s, buffer.data(), 300, &end)) && !end) total += n;
    total += n;
    EXPECT_EQ(end, 1);
    EXPECT_EQ(total, 699u);
    EXPECT_STREQ(qxSoundStreamName(s), "RIFF WAVE");
    qxCloseSoundStream(s);
}

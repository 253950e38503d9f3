// MD5 (RFC 1321): 64-byte blocks through four rounds of sixteen steps.
#include "core/codecs/qx_md5.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

// Per-step rotations, four per round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// The step constants: the integer part of |sin(i + 1)| * 2^32.
struct StepTable {
    uint32_t k[64];
    StepTable()
    {
        for (int i = 0; i < 64; i++) k[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    }
};

const StepTable &steps()
{
    static const StepTable table;
    return table;
}

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Step i: the registers rotate one place per step, so step i updates
// v[(64 - i) % 4] from the other three.
template <size_t I> inline void step(uint32_t v[4], const uint32_t m[16], const uint32_t *k)
{
    constexpr int round = I / 16;
    uint32_t &a = v[(64 - I) % 4];
    uint32_t b = v[(65 - I) % 4], c = v[(66 - I) % 4], d = v[(67 - I) % 4];
    uint32_t f;
    size_t g;
    if constexpr (round == 0) {
        f = d ^ (b & (c ^ d));
        g = I;
    } else if constexpr (round == 1) {
        f = c ^ (d & (b ^ c));
        g = (5 * I + 1) & 15;
    } else if constexpr (round == 2) {
        f = b ^ c ^ d;
        g = (3 * I + 5) & 15;
    } else {
        f = c ^ (b | ~d);
        g = (7 * I) & 15;
    }
    a = b + rotl(a + f + k[I] + m[g], kShift[round][I & 3]);
}

inline uint32_t load32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline void store32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

extern "C" {

void qxMD5Init(qxMD5Context *ctx)
{
    ctx->count[0] = ctx->count[1] = 0;
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
    std::memset(ctx->block, 0, sizeof ctx->block);
}

void qxMD5Transform(uint32_t state[4], const uint8_t block[64])
{
    const uint32_t *k = steps().k;
    uint32_t m[16];
    for (int i = 0; i < 16; i++) m[i] = load32(block + 4 * i);
    uint32_t v[4] = {state[0], state[1], state[2], state[3]};
    // The 64 steps unrolled: round, word index and rotation are constants.
    [&]<size_t... I>(std::index_sequence<I...>) { (step<I>(v, m, k), ...); }(std::make_index_sequence<64>{});
    for (int i = 0; i < 4; i++) state[i] += v[i];
}

void qxMD5Update(qxMD5Context *ctx, const void *data, size_t length)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    size_t used = (ctx->count[0] >> 3) & 63;
    uint64_t bits = (static_cast<uint64_t>(ctx->count[1]) << 32 | ctx->count[0]) + (static_cast<uint64_t>(length) << 3);
    ctx->count[0] = static_cast<uint32_t>(bits);
    ctx->count[1] = static_cast<uint32_t>(bits >> 32);
    if (used) {
        size_t take = 64 - used < length ? 64 - used : length;
        std::memcpy(ctx->block + used, p, take);
        p += take;
        length -= take;
        if (used + take < 64) return;
        qxMD5Transform(ctx->state, ctx->block);
    }
    for (; length >= 64; p += 64, length -= 64) qxMD5Transform(ctx->state, p);
    if (length) std::memcpy(ctx->block, p, length);
}

void qxMD5Final(qxMD5Context *ctx, uint8_t digest[16])
{
    uint8_t count[8];
    store32(count, ctx->count[0]);
    store32(count + 4, ctx->count[1]);
    static const uint8_t pad[64] = {0x80};
    size_t used = (ctx->count[0] >> 3) & 63;
    qxMD5Update(ctx, pad, used < 56 ? 56 - used : 120 - used);
    qxMD5Update(ctx, count, 8);
    for (int i = 0; i < 4; i++) store32(digest + 4 * i, ctx->state[i]);
    std::memset(ctx, 0, sizeof *ctx);
}

void qxMD5Hex(const uint8_t digest[16], char out[33])
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[32] = 0;
}
}

// The sort order of texts. In UTF-8 mode two 592 x 592 matrices (case
// sensitive and insensitive) hold the order of every pair of code points
// below 592: 1 before, 2 equal weight, 3 after. They are built on first use
// from the base-character map and freed at exit.
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/qx_memory.h"
#include "platform/qx_text.h"
#include "platform/qx_unicode_tables.h"

namespace {

constexpr uint32_t N = QX_COLLATION_SIZE;
enum : uint8_t { BEFORE = 1, EQUAL = 2, AFTER = 3 };

std::atomic<uint8_t *> matrices{nullptr}; // [0]: insensitive, [N * N]: sensitive
std::mutex buildLock;

// The letter a code point sorts with: its base character, upper-cased when
// that stays inside the matrix.
uint32_t primary(uint32_t c)
{
    uint32_t b = qxCollationBase[c];
    uint32_t u = qxUniToUpper(b);
    return u < N ? u : b;
}

struct Key {
    uint32_t primary, accent, caseRank;
};

Key keyOf(uint32_t c)
{
    Key k;
    k.primary = primary(c);
    uint32_t lower = qxUniToLower(c);
    if (lower >= N) lower = c;
    k.accent = qxCollationBase[c] != c ? lower : 0;
    k.caseRank = lower != c ? 1 : 0; // lower case first
    return k;
}

uint8_t order(uint32_t x, uint32_t y) { return x < y ? BEFORE : x > y ? AFTER : EQUAL; }

uint8_t *getMatrices()
{
    uint8_t *m = matrices.load(std::memory_order_acquire);
    if (m) return m;
    std::lock_guard<std::mutex> guard(buildLock);
    m = matrices.load(std::memory_order_relaxed);
    if (m) return m;
    m = static_cast<uint8_t *>(qxAlloc(2 * N * N, 0));
    if (!m) return nullptr;
    Key keys[N];
    for (uint32_t c = 0; c < N; c++) keys[c] = keyOf(c);
    for (uint32_t a = 0; a < N; a++) {
        for (uint32_t b = 0; b < N; b++) {
            const Key &ka = keys[a], &kb = keys[b];
            uint8_t r = order(ka.primary, kb.primary);
            if (r == EQUAL) r = order(ka.accent, kb.accent);
            m[a * N + b] = r;
            if (r == EQUAL) r = order(ka.caseRank, kb.caseRank);
            m[N * N + a * N + b] = r;
        }
    }
    matrices.store(m, std::memory_order_release);
    return m;
}

// Order of one pair; above the matrix folded (insensitive) or plain code
// points decide.
int pairOrder(const uint8_t *m, uint32_t a, uint32_t b, bool sensitive)
{
    if (a < N && b < N) {
        uint8_t r = m[a * N + b];
        return r == BEFORE ? -1 : r == AFTER ? 1 : 0;
    }
    if (!sensitive) {
        a = qxUniFold(a);
        b = qxUniFold(b);
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int utf8Collate(const char *a, const char *b, bool sensitive)
{
    uint8_t *all = getMatrices();
    if (!all) return sign(sensitive ? strcmp(a, b) : qxUtf8StrICmp(a, b));
    const uint8_t *m = all + (sensitive ? N * N : 0);
    const char *ea = a + strlen(a), *eb = b + strlen(b);

    // Base letters decide first; only the last compared pair weighs accents
    // and case.
    const char *pa = a, *pb = b;
    while (pa < ea && pb < eb) {
        uint32_t ca, cb;
        pa += qxUtf8DecodeN(pa, ea, &ca);
        pb += qxUtf8DecodeN(pb, eb, &cb);
        bool last = pa == ea || pb == eb;
        if (!last && ca < N && cb < N) {
            ca = primary(ca);
            cb = primary(cb);
        }
        int r = pairOrder(m, ca, cb, sensitive);
        if (r) return r;
    }
    if (pa < ea) return 1;
    if (pb < eb) return -1;

    // Same length and same letters: the first differing accent or case.
    pa = a;
    pb = b;
    while (pa < ea && pb < eb) {
        uint32_t ca, cb;
        pa += qxUtf8DecodeN(pa, ea, &ca);
        pb += qxUtf8DecodeN(pb, eb, &cb);
        int r = pairOrder(m, ca, cb, sensitive);
        if (r) return r;
    }
    return 0;
}

} // namespace

int qxStrCompare(const char *a, const char *b, int caseSensitive)
{
    if (!qxTextModeUtf8) return sign(caseSensitive ? strcmp(a, b) : qxStrICmp(a, b));
    return utf8Collate(a, b, caseSensitive != 0);
}

void qxFreeCollation(void)
{
    std::lock_guard<std::mutex> guard(buildLock);
    qxFree(matrices.exchange(nullptr));
}

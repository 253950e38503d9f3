// Memory-file descriptors. qxOpen takes one in place of a file name, so a
// text that merely looks like one must never be believed: a descriptor
// counts only when this code made it at that address and its key matches.
#include <cstring>
#include <mutex>
#include <sys/random.h>
#include <ctime>
#include <unistd.h>

#include "core/files/qx_chunkname.h"

namespace {

constexpr char kTag[] = ":::memory";
constexpr size_t kRecent = 1024;

std::mutex gLock;
const void *gMade[kRecent]; // addresses of recently made descriptors
size_t gNext;
uint64_t gSecret;

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t secret()
{
    if (!gSecret) {
        uint64_t s = 0;
        if (getrandom(&s, sizeof s, 0) != static_cast<ssize_t>(sizeof s))
            s = mix(static_cast<uint64_t>(time(nullptr)) ^ (static_cast<uint64_t>(getpid()) << 32) ^
                    reinterpret_cast<uintptr_t>(&gLock));
        gSecret = s | 1;
    }
    return gSecret;
}

uint64_t keyOf(uint64_t pointer, uint32_t size) { return mix(secret() ^ mix(pointer ^ (uint64_t(size) << 17))); }

bool wasMade(const void *address)
{
    for (const void *p : gMade)
        if (p == address) return true;
    return false;
}

} // namespace

extern "C" {

void qxMakeMemoryName(qxMemoryName *descriptor, const void *pointer, uint32_t size)
{
    std::lock_guard<std::mutex> guard(gLock);
    std::memcpy(descriptor->tag, kTag, sizeof kTag);
    uint64_t p = reinterpret_cast<uintptr_t>(pointer);
    std::memcpy(descriptor->pointer, &p, sizeof p);
    std::memcpy(descriptor->size, &size, sizeof size);
    uint64_t key = keyOf(p, size);
    std::memcpy(descriptor->key, &key, sizeof key);
    if (!wasMade(descriptor)) {
        gMade[gNext] = descriptor;
        gNext = (gNext + 1) % kRecent;
    }
}

int qxReadMemoryName(const char *name, void **pointer, uint32_t *size)
{
    // The prefix test stops at the text's terminator; the fields behind it
    // are read only for an address that holds a descriptor of ours.
    if (!name || std::strncmp(name, kTag, sizeof kTag - 1) != 0) return 0;
    std::lock_guard<std::mutex> guard(gLock);
    if (!wasMade(name) || name[sizeof kTag - 1] != '\0') return 0;
    const auto *d = reinterpret_cast<const qxMemoryName *>(name);
    uint64_t p, key;
    uint32_t n;
    std::memcpy(&p, d->pointer, sizeof p);
    std::memcpy(&n, d->size, sizeof n);
    std::memcpy(&key, d->key, sizeof key);
    if (key != keyOf(p, n)) return 0;
    if (pointer) *pointer = reinterpret_cast<void *>(static_cast<uintptr_t>(p));
    if (size) *size = n;
    return 1;
}

} // extern "C"

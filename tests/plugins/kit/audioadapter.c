/* The kit's audio adapter: every channel gets a thread that pulls frames
 * through the program's fill callback at twice real time and writes them
 * to "adapter_<n>.raw" (n counts allocations from 1). Calls are logged to
 * "adapter.log". Built into the kit with KIT_AUDIO. */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "core/plugins/qx_pluginapi.h"

typedef uint32_t (*FillFunc)(uintptr_t, uintptr_t, void *, uint32_t, void *);

typedef struct KitChannel {
    pthread_t thread;
    volatile int quit;
    int number;
    uint32_t bytesPerFrame, frequency;
    FillFunc fill;
    void *record;
    FILE *out;
} KitChannel;

static pthread_mutex_t logLock = PTHREAD_MUTEX_INITIALIZER;
static int allocations;
static int device;

static void kitLog(const char *format, uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    pthread_mutex_lock(&logLock);
    FILE *f = fopen("adapter.log", "a");
    if (f) {
        fprintf(f, format, a, b, c, d);
        fclose(f);
    }
    pthread_mutex_unlock(&logLock);
}

static void *puller(void *arg)
{
    KitChannel *c = arg;
    enum { BLOCK = 1024 };
    static const uint32_t most = 4; /* bytes of the largest frame */
    unsigned char *buf = malloc((size_t)BLOCK * most);
    if (!buf) return NULL;
    while (!c->quit) {
        uint32_t n = c->fill(0, 0, buf, BLOCK, c->record);
        if (n > BLOCK) n = BLOCK; /* a program that overfills is not trusted */
        if (n) fwrite(buf, c->bytesPerFrame, n, c->out);
        struct timespec ts = {0, (long)(500000000.0 * BLOCK / (c->frequency ? c->frequency : 8000))};
        nanosleep(&ts, NULL);
    }
    free(buf);
    return NULL;
}

void *OpenAudio(void *a, void *b)
{
    kitLog("open %u %u\n", a != NULL, b != NULL, 0, 0);
    return &device;
}

void CloseAudio(void *handle)
{
    kitLog("close %u\n", handle == &device, 0, 0, 0);
}

void *AllocAudioChannel(void *handle, uint32_t format, uint32_t frequency, uint32_t volume, FillFunc fill,
                        uintptr_t zero, void *record, uintptr_t zero2)
{
    static const uint32_t frameBytes[6] = {1, 2, 1, 2, 2, 4};
    char name[64];
    KitChannel *c;
    (void)zero;
    (void)zero2;
    if (handle != &device || format > 5 || !fill || !(c = calloc(1, sizeof *c))) return NULL;
    c->number = ++allocations;
    c->bytesPerFrame = frameBytes[format];
    c->frequency = frequency;
    c->fill = fill;
    c->record = record;
    snprintf(name, sizeof name, "adapter_%d.raw", c->number);
    c->out = fopen(name, "wb");
    kitLog("alloc %u format %u rate %u volume %u\n", (uint32_t)c->number, format, frequency, volume);
    if (!c->out || pthread_create(&c->thread, NULL, puller, c) != 0) {
        if (c->out) fclose(c->out);
        free(c);
        return NULL;
    }
    return c;
}

void FreeAudioChannel(void *handle, void *channel)
{
    KitChannel *c = channel;
    (void)handle;
    c->quit = 1;
    pthread_join(c->thread, NULL);
    fclose(c->out);
    kitLog("free %u\n", (uint32_t)c->number, 0, 0, 0);
    free(c);
}

void SetChannelAttributes(void *handle, void *channel, const uint32_t *list)
{
    KitChannel *c = channel;
    (void)handle;
    for (; list[0]; list += 2) kitLog("attr %u code %u value %u\n", (uint32_t)c->number, list[0], list[1], 0);
}

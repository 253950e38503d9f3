// The native output: one ALSA playback PCM per busy channel, fed by one
// mixer thread. ALSA is reached only through the run-time import table.
#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/errors/qx_errors.h"
#include "media/qx_sound.h"
#include "media/qx_videosound.h"
#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "platform/qx_threadevents.h"

#define ALSA(name) reinterpret_cast<decltype(&::name)>(qxLibImports.name)

namespace {

constexpr uint32_t scratchBytes = 384000; // 96,000 frames of 4 bytes

pthread_mutex_t alsaMutex;
bool alsaMutexReady;
pthread_t mixerThread;
bool mixerRunning;
std::atomic<bool> mixerQuit;
uint8_t *scratch;

// The mixer's wait between walks: a flag and a condition on the monotonic
// clock, signalled when a PCM opens (a channel is about to play) and at
// the stop, so that a sleeping mixer starts new sound at once.
pthread_mutex_t kickMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t kickCond;
bool kickReady, kicked;
std::atomic<int> openPcms;

void kickMixer()
{
    pthread_mutex_lock(&kickMutex);
    kicked = true;
    if (kickReady) pthread_cond_signal(&kickCond);
    pthread_mutex_unlock(&kickMutex);
}

// Waits up to seconds (negative: until kicked), or less when kicked.
void waitForKick(double seconds)
{
    pthread_mutex_lock(&kickMutex);
    if (!kicked) {
        if (seconds < 0) {
            while (!kicked && !mixerQuit.load(std::memory_order_acquire)) pthread_cond_wait(&kickCond, &kickMutex);
        } else {
            timespec until;
            clock_gettime(CLOCK_MONOTONIC, &until);
            long ns = until.tv_nsec + long(seconds * 1e9);
            until.tv_sec += ns / 1000000000;
            until.tv_nsec = ns % 1000000000;
            while (!kicked && pthread_cond_timedwait(&kickCond, &kickMutex, &until) == 0) {}
        }
    }
    kicked = false;
    pthread_mutex_unlock(&kickMutex);
}

// A loop notice waiting for the audible start of its pass. The record holds
// copies, so a sample freed meanwhile leaves nothing dangling; notices still
// pending when the mixer thread ends are dropped with it.
struct LoopNotice {
    qxObjectRef object;
    uint32_t passMs;
    uint32_t loop;
    uint32_t lastMs;
    double due; // qxGetSeconds() time
};
std::vector<LoopNotice> notices; // mixer thread only

// Volume scalers, one per sample layout; written plainly so they vectorise.
void scaleU8(uint8_t *d, const uint8_t *s, uint32_t n, uint32_t v)
{
    for (uint32_t i = 0; i < n; i++) d[i] = uint8_t((int(s[i]) - 128) * int(v) / 64 + 128);
}
void scaleS8(uint8_t *d, const uint8_t *s, uint32_t n, uint32_t v)
{
    for (uint32_t i = 0; i < n; i++) d[i] = uint8_t(int8_t(s[i]) * int(v) / 64);
}
void scaleS16(uint8_t *d, const uint8_t *s, uint32_t n, uint32_t v)
{
    for (uint32_t i = 0; i < n / 2; i++) {
        int16_t x;
        std::memcpy(&x, s + 2 * i, 2);
        x = int16_t(x * int(v) / 64);
        std::memcpy(d + 2 * i, &x, 2);
    }
}
void scaleS16Swapped(uint8_t *d, const uint8_t *s, uint32_t n, uint32_t v)
{
    for (uint32_t i = 0; i < n / 2; i++) {
        uint16_t u;
        std::memcpy(&u, s + 2 * i, 2);
        int16_t x = int16_t(__builtin_bswap16(u));
        u = __builtin_bswap16(uint16_t(int16_t(x * int(v) / 64)));
        std::memcpy(d + 2 * i, &u, 2);
    }
}

typedef void (*ScaleFn)(uint8_t *, const uint8_t *, uint32_t, uint32_t);

ScaleFn scalerFor(uint32_t bits, uint32_t flags)
{
    bool swapped = bool(flags & QX_SOUND_BIGENDIAN) != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
    if (bits == 8) return flags & QX_SOUND_SIGNED ? scaleS8 : scaleU8;
    return swapped ? scaleS16Swapped : scaleS16;
}

struct AlsaLock {
    AlsaLock() { pthread_mutex_lock(&alsaMutex); }
    ~AlsaLock() { pthread_mutex_unlock(&alsaMutex); }
};

// Writes n frames at the channel's volume; the frames taken (0 when the PCM
// is full or failed).
uint32_t writeFrames(qxChannel *c, const uint8_t *data, uint32_t n)
{
    auto *pcm = static_cast<snd_pcm_t *>(c->pcm);
    uint32_t bits, flags, bpf;
    if (c->ring) {
        bits = 16, flags = QX_SOUND_SIGNED, bpf = 4;
    } else if (c->video) {
        bits = 16, bpf = static_cast<qxVideoSoundFifo *>(c->video)->frameBytes;
        flags = QX_SOUND_SIGNED | (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? QX_SOUND_BIGENDIAN : 0);
    } else if (c->sound) {
        bits = c->sound->bits, flags = c->sound->flags, bpf = c->sound->bytesPerFrame;
    } else {
        bits = c->stream->bits, flags = c->stream->flags, bpf = c->stream->frameBytes;
    }
    uint32_t v = c->volume.load(std::memory_order_relaxed);
    const uint8_t *out = data;
    if (v != 64) {
        n = std::min(n, scratchBytes / bpf);
        scalerFor(bits, flags)(scratch, data, n * bpf, v);
        out = scratch;
    }
    snd_pcm_sframes_t r = ALSA(snd_pcm_writei)(pcm, out, n);
    if (r >= 0) return uint32_t(r);
    if (r == -EPIPE) {
        ALSA(snd_pcm_prepare)(pcm);
    } else if (r == -ESTRPIPE) {
        int e;
        while ((e = ALSA(snd_pcm_resume)(pcm)) == -EAGAIN) sleep(1);
        if (e < 0) ALSA(snd_pcm_prepare)(pcm);
    } else if (r != -EAGAIN && r != -EINTR) {
        // Any other refusal will not pass: the channel ends where it stands
        // rather than waiting for frames that are never taken.
        c->deviceFailed = 1;
    }
    return 0;
}

// Frames the PCM still holds, or -1 when it cannot say.
long heldFrames(qxChannel *c)
{
    if (!qxLibImports.snd_pcm_avail) return -1;
    snd_pcm_sframes_t avail = ALSA(snd_pcm_avail)(static_cast<snd_pcm_t *>(c->pcm));
    if (avail < 0) return -1;
    return std::max<long>(0, long(c->pcmBufferFrames) - long(avail));
}

bool drained(qxChannel *c)
{
    if (c->deviceFailed) return true; // a failed device plays nothing of what it holds
    if (qxLibImports.snd_pcm_avail) {
        snd_pcm_sframes_t avail = ALSA(snd_pcm_avail)(static_cast<snd_pcm_t *>(c->pcm));
        return avail < 0 || avail >= snd_pcm_sframes_t(c->pcmBufferFrames) - 25;
    }
    qxTimeVal now, due = c->drainStart;
    qxTimeVal second{1, 0};
    qxAddTime(&due, &second);
    qxGetSysTime(&now);
    return qxCmpTime(&now, &due) >= 0;
}

// Frames a device that plays nothing itself has played by the clock.
uint64_t dueFrames(const qxChannel *c)
{
    qxTimeVal now;
    qxGetSysTime(&now);
    qxSubTime(&now, &c->startTime);
    return (uint64_t(now.seconds) * 1000000 + now.microseconds) * c->pcmRate / 1000000;
}

// A device that plays nothing itself (null, file) is held to the clock with
// one buffer ahead, as a sound card would hold it, so that stream halves, a
// script's buffers and a video's sound are taken when they would be heard.
uint64_t pacedBudget(const qxChannel *c, uint64_t budget)
{
    if (!c->instant) return budget;
    uint64_t ahead = dueFrames(c) + c->pcmBufferFrames;
    return std::min<uint64_t>(budget, ahead > c->framesWritten ? ahead - c->framesWritten : 0);
}

// Seconds of sound the channel's PCM holds (by the clock on a device that
// plays nothing itself); 0 when it cannot say, has not started, or drains
// towards an end that must be noticed at once.
double secondsAhead(qxChannel *c)
{
    if (c->ended || c->deviceFailed || c->startPending || !c->pcmRate) return 0;
    if (c->instant) {
        uint64_t due = dueFrames(c);
        return c->framesWritten > due ? double(c->framesWritten - due) / c->pcmRate : 0;
    }
    long held = heldFrames(c);
    return held > 0 ? double(held) / c->pcmRate : 0;
}

// Counts frames written; a PCM that holds nothing right after taking them
// plays nothing itself.
void noteWritten(qxChannel *c, uint32_t n)
{
    c->framesWritten += n;
    if (!c->instant && heldFrames(c) == 0) c->instant = 1;
}

// Feeds one sample channel; true when anything was written.
void postNoticesOf(const qxObjectRef &object);

// A sample or stream whose device failed ends now: its end notice follows
// as at a normal end.
void endIfFailed(qxChannel *c)
{
    if (!c->deviceFailed) return;
    qxGetSysTime(&c->drainStart);
    c->ended = 1;
}

bool feedSample(qxChannel *c)
{
    if (c->ended) {
        if (drained(c)) {
            postNoticesOf(c->objectId); // a pass is never reported after the end
            if (qxAudio.onSampleEnd)
                qxPostThreadEvent(QX_THREADEVENT_SAMPLE_END, c->objectId, c->passMs, c->loop, c->lastMs, 1);
            c->prevKind = QX_CH_SAMPLE;
            c->kind.store(QX_CH_FINISHED, std::memory_order_release);
        }
        return false;
    }
    const qxSound *sound = c->sound;
    bool wrote = false;
    // At most one PCM buffer a walk, held to the clock on a PCM that never
    // fills (null, file), so an endless sample does not run away.
    uint64_t budget = pacedBudget(c, std::max<uint32_t>(c->pcmBufferFrames, 1024));
    while (true) {
        while (c->position < sound->frames) {
            if (!budget) return wrote;
            uint32_t n = writeFrames(c, sound->data + size_t(c->position) * sound->bytesPerFrame,
                                     uint32_t(std::min<uint64_t>(sound->frames - c->position, budget)));
            if (!n) return endIfFailed(c), wrote;
            budget -= n;
            if (c->startPending) {
                c->startPending = 0;
                qxGetSysTime(&c->startTime);
                if (qxAudio.onSampleLoop)
                    qxPostThreadEvent(QX_THREADEVENT_SAMPLE_LOOP, c->objectId, c->passMs, 1, 0, 1);
            }
            c->position += n;
            noteWritten(c, n);
            wrote = true;
        }
        if (c->loops && c->loop >= c->loops) {
            qxGetSysTime(&c->drainStart);
            c->ended = 1;
            return wrote;
        }
        c->position = 0;
        c->loop++;
        if (qxAudio.onSampleLoop) {
            // The new pass is heard once the PCM has played what it holds.
            notices.push_back({c->objectId, c->passMs, c->loop, c->lastMs, qxGetSeconds() + secondsAhead(c)});
        }
    }
}

// Feeds one stream channel from its playing half; true when anything was
// written.
bool feedStream(qxChannel *c)
{
    if (c->ended) {
        if (drained(c)) {
            if (qxAudio.onMusicEnd)
                qxPostThreadEvent(QX_THREADEVENT_MUSIC_END, c->objectId, 0, 1, 0, 1);
            c->prevKind = QX_CH_STREAM;
            c->kind.store(QX_CH_FINISHED, std::memory_order_release);
        }
        return false;
    }
    bool wrote = false;
    uint32_t bpf = c->stream->frameBytes;
    uint64_t budget = pacedBudget(c, std::max<uint32_t>(c->pcmBufferFrames, 1024));
    while (budget) {
        if (c->position >= c->bufferFrames) {
            int next = qxNextStreamHalf(c);
            if (next < 0) return wrote;
            if (next == 0) {
                qxGetSysTime(&c->drainStart);
                c->ended = 1;
                return wrote;
            }
            continue;
        }
        uint32_t n = writeFrames(c, c->streamData + size_t(c->position) * bpf,
                                 uint32_t(std::min<uint64_t>(c->bufferFrames - c->position, budget)));
        if (!n) return endIfFailed(c), wrote;
        if (c->startPending) {
            c->startPending = 0;
            qxGetSysTime(&c->startTime);
        }
        c->position += n;
        noteWritten(c, n);
        budget -= n;
        wrote = true;
    }
    return wrote;
}

// Feeds one module channel from its ring; modules never end by themselves.
bool feedModule(qxChannel *c)
{
    bool wrote = false;
    uint64_t budget = std::max<uint32_t>(c->pcmBufferFrames, 1024);
    if (!c->startPending) {
        // At most one ring ahead of the clock: a device that takes frames
        // at any speed (null, file) does not make this thread spin.
        qxTimeVal now;
        qxGetSysTime(&now);
        qxSubTime(&now, &c->startTime);
        uint64_t due = (uint64_t(now.seconds) * 1000000 + now.microseconds) * QX_MODULE_RATE / 1000000;
        uint64_t allowed = due + QX_MODULE_RING > c->framesWritten ? due + QX_MODULE_RING - c->framesWritten : 0;
        budget = std::min(budget, allowed);
    }
    while (budget) {
        uint32_t n = uint32_t(std::min<uint64_t>(QX_MODULE_RING - c->position, budget));
        n = writeFrames(c, reinterpret_cast<const uint8_t *>(c->ring + size_t(c->position) * 2), n);
        if (!n) break;
        if (c->startPending) {
            c->startPending = 0;
            qxGetSysTime(&c->startTime);
        }
        c->framesWritten += n;
        qxModuleWritten(c, n, heldFrames(c));
        c->position += n;
        if (c->position >= QX_MODULE_RING) c->position = 0;
        budget -= n;
        wrote = true;
    }
    return wrote;
}

// A paused video's sound: what the PCM holds is dropped once, so that the
// sound stops at once, and silence keeps the channel running while the FIFO
// keeps what is to follow. True while held.
bool feedHeldVideo(qxChannel *c, bool *wrote)
{
    auto *f = static_cast<qxVideoSoundFifo *>(c->video);
    const bool held = f->held.load(std::memory_order_acquire);
    if (!held) {
        f->heldSeen = 0;
        return false;
    }
    if (!f->heldSeen) {
        f->heldSeen = 1;
        if (!c->instant && c->framesWritten) {
            auto *pcm = static_cast<snd_pcm_t *>(c->pcm);
            ALSA(snd_pcm_drop)(pcm);
            ALSA(snd_pcm_prepare)(pcm);
        }
    }
    // 20 ms ahead at most, so that the sound follows closely on a resume.
    static const uint8_t silence[4096] = {};
    const double room = std::max(0.0, 0.020 - secondsAhead(c)) * c->pcmRate;
    const uint32_t frames = std::min<uint32_t>(uint32_t(room), sizeof silence / f->frameBytes);
    uint32_t n = frames ? writeFrames(c, silence, uint32_t(pacedBudget(c, frames))) : 0;
    if (n) noteWritten(c, n);
    *wrote = n > 0;
    return true;
}

// Writes what the video sound FIFO holds and removes it from the front.
bool feedVideo(qxChannel *c)
{
    auto *f = static_cast<qxVideoSoundFifo *>(c->video);
    if (!c->framesWritten) qxGetSysTime(&c->startTime);
    if (bool wrote; feedHeldVideo(c, &wrote)) return wrote;
    pthread_mutex_lock(&f->mutex);
    if (f->held.load(std::memory_order_relaxed)) {
        pthread_mutex_unlock(&f->mutex); // held just now: the next pass writes silence
        return false;
    }
    uint32_t n = writeFrames(c, f->data, uint32_t(pacedBudget(c, f->fill / f->frameBytes)));
    if (n) noteWritten(c, n);
    uint32_t bytes = n * f->frameBytes;
    std::memmove(f->data, f->data + bytes, f->fill - bytes);
    f->fill -= bytes;
    pthread_mutex_unlock(&f->mutex);
    return n > 0;
}

// Posts the waiting notices of one object now, in order.
void postNoticesOf(const qxObjectRef &object)
{
    auto mine = [&object](const LoopNotice &n) {
        return n.object.number == object.number && n.object.automatic == object.automatic;
    };
    for (const LoopNotice &n : notices)
        if (mine(n)) qxPostThreadEvent(QX_THREADEVENT_SAMPLE_LOOP, n.object, n.passMs, n.loop, 0, 1);
    notices.erase(std::remove_if(notices.begin(), notices.end(), mine), notices.end());
}

void postDueNotices()
{
    if (notices.empty()) return;
    double now = qxGetSeconds();
    auto due = std::stable_partition(notices.begin(), notices.end(),
                                     [now](const LoopNotice &n) { return n.due <= now; });
    for (auto it = notices.begin(); it != due; ++it)
        qxPostThreadEvent(QX_THREADEVENT_SAMPLE_LOOP, it->object, it->passMs, it->loop, 0, 1);
    notices.erase(notices.begin(), due);
}

// How long the mixer may wait after a walk that wrote nothing: until a PCM
// opens when none plays; 500 microseconds while a channel is being set
// up, starts, drains or cannot tell what it holds; otherwise until the
// channel with the least sound ahead is 10 ms from needing more (at most
// 20 ms), or the next loop notice is due. Finished channels (kind 8) only
// wait for the reaper.
double mixerWait(int playing, int finished, double ahead)
{
    constexpr double poll = 0.0005;
    int open = openPcms.load(std::memory_order_acquire);
    if (!playing && finished >= open && notices.empty()) return -1;
    if (playing + finished < open) return poll;
    double wait = std::clamp(ahead - 0.010, poll, 0.020);
    if (!notices.empty()) {
        double now = qxGetSeconds();
        for (const LoopNotice &n : notices) wait = std::min(wait, std::max(n.due - now, poll));
    }
    return wait;
}

void *mixerMain(void *)
{
    while (!mixerQuit.load(std::memory_order_acquire)) {
        bool wrote = false;
        int playing = 0, finished = 0;
        double ahead = 1e9;
        {
            AlsaLock lock;
            for (int i = 0; i < qxAudio.count; i++) {
                qxChannel *c = &qxAudio.channels[i];
                // Only playing kinds are ours to read; set-up kinds are still
                // being filled by the script thread.
                uint32_t kind = c->kind.load(std::memory_order_acquire);
                if (kind == QX_CH_FINISHED) {
                    finished++;
                    continue;
                }
                bool fed = kind == QX_CH_SAMPLE || kind == QX_CH_STREAM || kind == QX_CH_MODULE ||
                           (kind == QX_CH_VIDEO && c->video);
                if (!fed || !c->pcm) continue;
                playing++;
                // A failed device takes nothing more; a module or a video's
                // sound stays silent until the script stops it.
                if (c->deviceFailed && !c->ended && (kind == QX_CH_MODULE || kind == QX_CH_VIDEO)) {
                    ahead = std::min(ahead, 0.020);
                    continue;
                }
                if (kind == QX_CH_SAMPLE) wrote |= feedSample(c);
                else if (kind == QX_CH_STREAM) wrote |= feedStream(c);
                else if (kind == QX_CH_MODULE) wrote |= feedModule(c);
                else wrote |= feedVideo(c);
                if (c->kind.load(std::memory_order_relaxed) == QX_CH_FINISHED) finished++, playing--;
                else ahead = std::min(ahead, secondsAhead(c));
            }
        }
        postDueNotices();
        if (!wrote) waitForKick(mixerWait(playing, finished, ahead));
    }
    notices.clear();
    return nullptr;
}

// A playback PCM in non-blocking mode; non-zero when ALSA refuses it.
int openPcm(const char *device, snd_pcm_t **pcm)
{
    // A PCM may write into a pipe (ALSA's file plug-in with "|command"):
    // when its reader goes, the write fails instead of ending the player.
    signal(SIGPIPE, SIG_IGN);
    return ALSA(snd_pcm_open)(pcm, device, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0;
}

} // namespace

extern "C" {

char qxAudioDeviceName[256] = "default";

int qxAlsaAvailable(void)
{
    return qxLibraryComplete(QX_LIB_ALSA);
}

void qxAlsaLock(void)
{
    if (alsaMutexReady) pthread_mutex_lock(&alsaMutex);
}

void qxAlsaUnlock(void)
{
    if (alsaMutexReady) pthread_mutex_unlock(&alsaMutex);
}

int qxCreateOutputLock(void)
{
    if (!alsaMutexReady) {
        if (qxInitRecursiveMutex(&alsaMutex)) return ERR_SEMAPHORE;
        alsaMutexReady = true;
    }
    return 0;
}

int qxAlsaStart(void)
{
    if (mixerRunning) return 0;
    if (!qxAlsaAvailable()) return ERR_OPENAUDIO;
    // PCMs open only when something plays: a machine without a sound card
    // is found out here, so that it counts as having no sound at all.
    snd_pcm_t *probe = nullptr;
    if (openPcm(qxAudioDeviceName, &probe)) return ERR_OPENAUDIO;
    ALSA(snd_pcm_close)(probe);
    if (int r = qxCreateOutputLock()) return r;
    if (!scratch && !(scratch = static_cast<uint8_t *>(qxAlloc(scratchBytes, 0)))) return ERR_MEM;
    mixerQuit.store(false);
    pthread_mutex_lock(&kickMutex);
    if (!kickReady) {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        kickReady = pthread_cond_init(&kickCond, &attr) == 0;
        pthread_condattr_destroy(&attr);
    }
    pthread_mutex_unlock(&kickMutex);
    if (!kickReady) return ERR_THREAD;
    mixerThread = qxCreateThread(mixerMain, nullptr, 25);
    if (!mixerThread) return ERR_THREAD;
    mixerRunning = true;
    return 0;
}

void qxAlsaReleaseConfig(void)
{
    // libasound caches its parsed configuration for the process; it is
    // given back before the library is unloaded at exit.
    void *lib = qxLibImports.handle[QX_LIB_ALSA];
    if (!lib) return;
    if (auto freeGlobal = reinterpret_cast<int (*)(void)>(dlsym(lib, "snd_config_update_free_global")))
        freeGlobal();
}

void qxAlsaStop(void)
{
    if (mixerRunning) {
        mixerQuit.store(true, std::memory_order_release);
        kickMixer();
        pthread_join(mixerThread, nullptr);
        mixerRunning = false;
    }
    qxFree(scratch);
    scratch = nullptr;
}

int qxAlsaOpenChannel(qxChannel *c, const char *device, uint32_t bits, uint32_t channels,
                      uint32_t flags, uint32_t rate)
{
    snd_pcm_t *pcm = nullptr;
    if (openPcm(device, &pcm)) return ERR_OPENAUDIO;
    snd_pcm_hw_params_t *hw = nullptr;
    if (ALSA(snd_pcm_hw_params_malloc)(&hw) < 0) {
        ALSA(snd_pcm_close)(pcm);
        return ERR_MEM;
    }
    bool isSigned = flags & QX_SOUND_SIGNED, big = flags & QX_SOUND_BIGENDIAN;
    snd_pcm_format_t format = bits == 8 ? (isSigned ? SND_PCM_FORMAT_S8 : SND_PCM_FORMAT_U8)
                              : isSigned ? (big ? SND_PCM_FORMAT_S16_BE : SND_PCM_FORMAT_S16_LE)
                                         : (big ? SND_PCM_FORMAT_U16_BE : SND_PCM_FORMAT_U16_LE);
    unsigned int rateNear = rate, bufferTime = 100000;
    snd_pcm_uframes_t bufferFrames = 0;
    int step = 0;
    if (ALSA(snd_pcm_hw_params_any)(pcm, hw) < 0) step = 1;
    else if (ALSA(snd_pcm_hw_params_set_access)(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) step = 2;
    else if (ALSA(snd_pcm_hw_params_set_format)(pcm, hw, format) < 0) step = 3;
    else if (ALSA(snd_pcm_hw_params_set_rate_near)(pcm, hw, &rateNear, nullptr) < 0) step = 4;
    else if (ALSA(snd_pcm_hw_params_set_channels)(pcm, hw, channels) < 0) step = 5;
    else if (ALSA(snd_pcm_hw_params_set_buffer_time_near)(pcm, hw, &bufferTime, nullptr) < 0) step = 6;
    else if (ALSA(snd_pcm_hw_params_get_buffer_size)(hw, &bufferFrames) < 0) step = 7;
    else if (ALSA(snd_pcm_hw_params)(pcm, hw) < 0) step = 8;
    ALSA(snd_pcm_hw_params_free)(hw);
    if (step) {
        ALSA(snd_pcm_close)(pcm);
        qxSetErrorNumber(step);
        return ERR_ALSAPCM;
    }
    ALSA(snd_pcm_prepare)(pcm);
    c->pcm = pcm;
    c->pcmBufferFrames = uint32_t(bufferFrames);
    c->pcmRate = rateNear;
    openPcms.fetch_add(1, std::memory_order_release);
    kickMixer();
    return 0;
}

void qxAlsaCloseChannel(qxChannel *c)
{
    if (c->halfBuffer) qxStopStreamChannel(c);
    AlsaLock lock;
    qxFree(c->ring);
    qxFree(c->module);
    c->ring = nullptr;
    c->module = nullptr;
    if (!c->pcm) return;
    auto *pcm = static_cast<snd_pcm_t *>(c->pcm);
    ALSA(snd_pcm_drop)(pcm);
    ALSA(snd_pcm_close)(pcm);
    c->pcm = nullptr;
    openPcms.fetch_sub(1, std::memory_order_release);
}

void qxAlsaReap(void)
{
    for (int i = 0; i < qxAudio.count; i++) {
        qxChannel *c = &qxAudio.channels[i];
        if (c->kind.load(std::memory_order_acquire) == QX_CH_FINISHED) qxFreeChannel(c);
    }
}

long qxAlsaHeldFrames(qxChannel *c)
{
    return c->pcm ? std::max<long>(heldFrames(c), 0) : 0;
}

} // extern "C"

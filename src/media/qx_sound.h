// Sound data, sound streams and the channel table shared by the sound
// library, the file readers and the native output.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/files/qx_file.h"
#include "core/plugins/qx_pluginapi.h"
#include "platform/qx_objectref.h"
#include "platform/qx_sync.h"

struct lua_State;

// Internal sample format codes.
enum : uint32_t {
    QX_SMP_U8MONO = 0, QX_SMP_U8STEREO = 1, QX_SMP_S8MONO = 2,
    QX_SMP_S8STEREO = 3, QX_SMP_S16MONO = 4, QX_SMP_S16STEREO = 5,
};
// Flags of qxSound and qxSoundStream.
constexpr uint32_t QX_SOUND_BIGENDIAN = 1, QX_SOUND_SIGNED = 2;

// Stream kinds.
enum : uint32_t {
    QX_STREAM_8SVX = 1, QX_STREAM_16SV = 2, QX_STREAM_WAVE = 3, QX_STREAM_NATIVE = 4,
    QX_STREAM_PLUGIN = 5, QX_STREAM_CUSTOM = 6, QX_STREAM_MODULE = 8,
};

// Channel kinds.
enum : uint32_t {
    QX_CH_FREE = 0, QX_CH_PREPARED = 1, QX_CH_SAMPLE = 2, QX_CH_MODULE = 3, QX_CH_STREAM = 4,
    QX_CH_VIDEO = 5, QX_CH_MUSICSETUP = 6, QX_CH_VIDEOSETUP = 7, QX_CH_FINISHED = 8,
};

struct qxSound {
    uint8_t *data;
    uint32_t bits;
    uint32_t bytesPerFrame;
    uint32_t channels;
    uint32_t flags;
    uint32_t frames;
    uint32_t format;
    uint32_t frequency;
};

struct qxSoundStream {
    qxFileHandle *handle;
    uint32_t bits;
    uint32_t bytesPerFrame;
    uint32_t channels;
    uint32_t flags;
    uint32_t frequency;
    uint32_t totalBytes;
    uint32_t totalFrames;
    uint32_t length;
    uint32_t position;
    uint8_t *scratch; // the IFF readers' planar buffer
    uint32_t scratchSize;
    uint32_t frameBytes;
    uint32_t unit;
    uint32_t lastBytes;
    uint32_t lastFrames;
    uint32_t kind;
    uint32_t format;
    uint32_t bitRate;
    uint32_t timeBase[4];
    uint32_t positionMs;
    uint32_t asMusic;
    uint32_t seekable;
    uint32_t userFlag;
    int64_t dataStart;
    int64_t fileSize; // bounds every read of the data chunk
    uint32_t planeBytes; // IFF: offset of the right plane
    // Script-fed streams: the owning music object, the queue and its lock,
    // and the reads the output made (each takes the next buffer's worth).
    void *music;
    pthread_mutex_t queueMutex;
    struct qxQueuedBuffer *queue;
    uint32_t reads;
    // Loader plug-in streams (kind 5): the plug-in and its stream handle.
    const qxPluginInfo *plugin;
    void *pluginHandle;
    uint32_t subsongs;
};

// Where a sound is opened from: the loader list ("loader"), the file
// adapter list ("adapter"), each null for the defaults, and the subsong.
struct qxSoundSource {
    const char *loaders;
    const char *adapters;
    uint32_t subsong;
};

// A buffer queued on a script-fed stream; its data follows the node.
struct qxQueuedBuffer {
    qxQueuedBuffer *next;
    uint8_t *data; // null ends the stream
    uint32_t bytes;
    uint32_t used;
    uint32_t frames;
    uint32_t done;
};

// One audio channel; zero-filled when free. kind is written last with
// release order so that the mixer thread sees a filled record.
struct qxChannel {
    qxSound *sound;
    qxSoundStream *stream;
    void *module;
    std::atomic<uint32_t> kind;
    uint32_t prevKind;
    qxObjectRef objectId;
    uint32_t loops;
    uint32_t loop;
    uint32_t lastFrames;
    uint32_t lastMs;
    uint32_t passMs;
    uint32_t position;
    std::atomic<uint32_t> volume;
    uint32_t startPending;
    qxTimeVal startTime;
    uint32_t ended;
    qxTimeVal endTime;
    void *music;
    void *pcm;
    uint32_t pcmBufferFrames;
    uint32_t pcmRate; // the rate the PCM took
    uint64_t framesWritten; // since the PCM started; times the loop notices
    qxTimeVal drainStart;
    uint32_t singleShot;  // the whole stream fits one half: no decoding thread
    uint32_t instant; // the PCM takes frames at once (null, file): paced by the clock
    uint32_t deviceFailed; // the PCM refused a write for good: nothing more is written
    // Stream channels: the playing half and the decoding thread's state.
    uint8_t *streamData;
    uint32_t bufferFrames;
    pthread_t thread;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    // The audio adapter's road: a server thread woken through a condition
    // record instead of the plain condition.
    qxThreadRecord *server;
    qxCondRecord *serverCond;
    uint32_t request;
    uint32_t quit;
    uint32_t fillHalf;
    uint32_t threadStarted;
    uint32_t busy; // a refill was asked for and is not yet published
    uint8_t *halfBuffer;
    uint32_t halfFrames;
    uint32_t nextFrames;
    uint32_t nextBytes;
    uint32_t endState; // 0 running, 1 end in the half just filled, 2 end consumed
    void *video;
    // Adapter path: the adapter's handle of this channel.
    void *adapterChannel;
    // Module channels: the one-second ring rendered ahead from the private
    // player copy (module), and the frames the music's own state followed.
    int16_t *ring;
    uint64_t followedFrames;
};

// Module output: 48,000 Hz, 16-bit stereo, rendered one second ahead.
constexpr uint32_t QX_MODULE_RATE = 48000, QX_MODULE_RING = 48000;

// Device and library state (qx_channels.cpp).
struct qxAudioState {
    qxChannel *channels;
    int32_t count;          // N
    uint32_t deviceOpen;
    uint32_t soundDisabled;
    uint32_t audioOpen;
    uint32_t audioFailed;
    uint32_t forceSound;
    uint32_t soundSetting;
    uint32_t onSampleLoop, onSampleEnd, onMusicEnd, onVideoEnd;
    // Script-fed music: a FillMusicBuffer handler is installed, and one runs
    // now (both set by the event dispatch).
    uint32_t onFillMusicBuffer, inMusicCallback;
    pthread_mutex_t channelMutex;
    uint32_t mutexReady;
};

extern "C" {
extern qxAudioState qxAudio;

// ---- Sound data and streams ----
// -1 for bits other than 8 or 16.
int qxSoundFormatCode(uint32_t bits, uint32_t channels, uint32_t flags);
// Script constant MONO8..STEREO16 to the internal code; -1 for others.
int qxScriptFormatToCode(int constant);
int qxCodeToScriptFormat(uint32_t code);
// Loader plug-ins first, then the inbuilt readers (without modules).
// A zero-filled stream record with the opener's defaults, or null.
qxSoundStream *qxNewSoundStream(int asMusic);
int qxOpenSoundStream(const char *name, const qxSoundSource *src, int asMusic, qxSoundStream **out);
// The inbuilt readers and the native decoder only, as the loader list admits.
int qxOpenInbuiltSoundStream(const char *name, const qxSoundSource *src, int asMusic, qxSoundStream **out);
const char *qxSoundStreamName(const qxSoundStream *s);
int qxSeekSoundStream(qxSoundStream *s, uint32_t frame);
uint32_t qxReadSoundStream(qxSoundStream *s, void *buffer, uint32_t frames, int *end);
void qxCloseSoundStream(qxSoundStream *s);
// loader, when given, receives the plug-in that decoded it (null: inbuilt).
int qxDecodeSound(const char *name, const qxSoundSource *src, qxSound **out,
                  const qxPluginInfo **loader = nullptr);
// Takes ownership of data (qxAlloc'd) also on failure.
int qxSoundFromRaw(uint8_t *data, uint32_t frames, uint32_t frequency, uint32_t code, qxSound **out);
qxSound *qxCopySound(const qxSound *sound);
void qxFreeSound(qxSound *sound);
// Duration of frames at frequency in ms, in 64 bits.
uint32_t qxFramesToMs(uint64_t frames, uint32_t frequency);

// Inbuilt readers (qx_soundreaders.cpp): 1 when the header is accepted.
int qxReadIFFHeader(qxSoundStream *s);
int qxReadRIFFHeader(qxSoundStream *s);
uint32_t qxStreamSamples(qxSoundStream *s, uint8_t *buffer, uint32_t frames, int *end);

// Loader and saver plug-ins (qx_soundplugin.cpp). Offers the file to the
// admitted loaders in list order: 0 with the stream (kind 5) when one took
// it, -1 when none did, or an error code.
int qxOpenPluginSoundStream(const char *name, const qxSoundSource *src, int asMusic, qxSoundStream **out);
uint32_t qxPluginStreamSamples(qxSoundStream *s, uint8_t *buffer, uint32_t frames, int *end);
void qxPluginSeekStream(qxSoundStream *s, uint32_t frame);
void qxPluginCloseStream(qxSoundStream *s);
const char *qxPluginStreamName(const qxSoundStream *s);
// SaveSample through the first saver plug-in that lists format: 0, 1490
// when none lists it, 1491 when it fails.
int qxSaveSampleWithPlugin(const char *name, const qxSound *sound, uint32_t rate, uint32_t format);

// ---- Channel table (qx_channels.cpp) ----
int qxCreateAudioLocks(void);
int qxOpenAudioDevice(int32_t numChannels);
void qxCloseAudioDevice(void);
// 0 to go on, 1 to do nothing quietly, or an error code to raise.
int qxNeedSound(int32_t numChannels);
// Sound is off (NOSOUND, or an open failed): the loaders made nothing, so a
// sample or music that is not there is no error. Opens nothing.
bool qxSoundOff(void);
// Channel stop: a music or video is stopped whole (L removes a video's
// layer), a sample's channel freed. 0 or 1576.
int qxChannelStop(lua_State *L, int index);
// Stops the music or video a channel plays; 0 when the channel's owner is
// not found (the caller frees the channel).
int qxStopMusicOfChannel(qxChannel *c);
int qxStopVideoOfChannel(lua_State *L, qxChannel *c);
// The volume change of a channel playing a music or video, stored in the
// object as well; 0 when the owner is not found.
int qxSetMusicVolumeOfChannel(qxChannel *c, uint32_t volume);
int qxSetVideoVolumeOfChannel(qxChannel *c, uint32_t volume);
int qxAllocChannel(uint32_t kind, qxObjectRef id, int *index, qxChannel **out);
int qxChannelInfo(int index, int *type, qxObjectRef *id);
int qxIsSoundPlaying(const qxSound *sound);
int qxSoundPosition(const qxSound *sound, uint32_t *ms, uint32_t *pass);
void qxStopSound(const qxSound *sound, int index);
void qxSetSoundVolume(const qxSound *sound, uint32_t volume, int index);
// Pitch, volume and panning of a channel playing the sound (index -1: the
// first); values 0xFFFFFFFF are left as they are. Only an adapter hears
// pitch and panning.
void qxSetSoundAttributes(const qxSound *sound, uint32_t pitch, uint32_t volume, uint32_t panning, int index);
void qxStartPrepared(void);
void qxReapChannels(void);
void qxStopAllChannels(void);
void qxLockChannels(void);
void qxUnlockChannels(void);
// Releases one channel (output side) and zeroes it.
void qxFreeChannel(qxChannel *c);

// ---- Stream channels (qx_streamchannel.cpp) ----
// Starts a music stream on a channel allocated with kind 6 whose loops
// and objectId are set; the channel becomes kind 4.
int qxStartStreamChannel(qxChannel *c, qxSoundStream *stream);
// Ends the decoding thread and frees the halves (the PCM stays).
void qxStopStreamChannel(qxChannel *c);
// Mixer side: the playing half is used up; switches halves. Returns 1 when
// playing goes on, 0 when the stream has ended, -1 when the next half is
// not ready yet.
int qxNextStreamHalf(qxChannel *c);

// Script-fed streams (qx_customstream.cpp).
int qxNewCustomStream(void *music, uint32_t frequency, uint32_t code, qxSoundStream **out);
// Appends frames of data in the stream's format (copied); null data ends the stream.
int qxQueueStreamData(qxSoundStream *s, const void *data, uint32_t frames);
uint32_t qxReadCustomStream(qxSoundStream *s, uint8_t *buffer, uint32_t frames, int *end);
// The frames queued and not yet read, the reads so far, and 1 when an end
// buffer is queued (nothing more will be read).
int qxCustomStreamState(qxSoundStream *s, uint64_t *queued, uint32_t *reads);
void qxFreeCustomStream(qxSoundStream *s);
// Stream information by request code (0 duration, 1 position in ms, 3
// format, 4 frequency, 5 bit rate); -1 for others. playingMs: the time since
// the start stamp while playing, or -1 while stopped.
int64_t qxStreamInfo(const qxSoundStream *s, int request, int64_t playingMs);

// ---- Module channels (qx_music.cpp) ----
// Starts a module on a channel allocated with kind 6: a private copy of the
// player state renders the ring; the channel becomes kind 3.
int qxStartModuleChannel(qxChannel *c, struct qxModPlayer *state, void *music);
// Output side: after n ring frames went out, renders them again and moves
// the music's own state (followed) up to what the PCM has played.
void qxModuleWritten(qxChannel *c, uint32_t n, long heldFrames);

// ---- Native output (qx_alsaout.cpp) ----
extern char qxAudioDeviceName[256];
int qxAlsaAvailable(void);
int qxAlsaStart(void);
void qxAlsaStop(void);
// Frees libasound's cached configuration (shutdown, before unloading).
void qxAlsaReleaseConfig(void);
int qxAlsaOpenChannel(qxChannel *c, const char *device, uint32_t bits, uint32_t channels,
                      uint32_t flags, uint32_t rate);
void qxAlsaCloseChannel(qxChannel *c);
void qxAlsaReap(void);
// Frames the channel's PCM still holds (0 when it cannot say).
long qxAlsaHeldFrames(qxChannel *c);
// The output mutex: the mixer thread or the adapter's fill callback holds
// it while reading channels and module states.
int qxCreateOutputLock(void);
void qxAlsaLock(void);
void qxAlsaUnlock(void);

// ---- Samples (qx_samples.cpp) ----
void qxFreeAllSamples(lua_State *L);
// The plug-in host's view of a sample: 1 with its format code, sound data,
// byte size and playback rate when it exists, else 0.
int qxGetSampleInfo(qxObjectRef ref, uint32_t *format, qxSound **data, uint32_t *bytes, uint32_t *frequency);
}

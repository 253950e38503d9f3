/* A test-only ALSA playback plug-in that takes frames at the PCM's rate, as
 * a sound card would, and throws them away. Placed under a "file" PCM it
 * gives the tests wall-clock timing without hardware:
 *   pcm_type.qxpace { lib "/path/libasound_module_pcm_qxpace.so" }
 *   pcm.paced { type qxpace }
 */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
    snd_pcm_ioplug_t io;
    double start;              /* wall time of the start, 0 while stopped */
    snd_pcm_uframes_t written; /* frames taken since the start */
} pace_t;

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static int pace_start(snd_pcm_ioplug_t *io)
{
    pace_t *p = io->private_data;
    p->start = now();
    return 0;
}

static int pace_stop(snd_pcm_ioplug_t *io)
{
    pace_t *p = io->private_data;
    p->start = 0;
    p->written = 0;
    return 0;
}

/* Frames played so far: the time since the start at the rate, never more
 * than were written. */
static snd_pcm_sframes_t pace_pointer(snd_pcm_ioplug_t *io)
{
    pace_t *p = io->private_data;
    if (p->start == 0) return 0; /* nothing plays before the start */
    snd_pcm_uframes_t played = (snd_pcm_uframes_t)((now() - p->start) * io->rate);
    if (played > p->written) played = p->written;
    return (snd_pcm_sframes_t)(played % io->buffer_size);
}

static snd_pcm_sframes_t pace_transfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                                       snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    pace_t *p = io->private_data;
    (void)areas;
    (void)offset;
    p->written += size;
    return (snd_pcm_sframes_t)size;
}

static int pace_close(snd_pcm_ioplug_t *io)
{
    pace_t *p = io->private_data;
    close(io->poll_fd);
    free(p);
    return 0;
}

static const snd_pcm_ioplug_callback_t callbacks = {
    .start = pace_start,
    .stop = pace_stop,
    .pointer = pace_pointer,
    .transfer = pace_transfer,
    .close = pace_close,
};

SND_PCM_PLUGIN_DEFINE_FUNC(qxpace)
{
    (void)root;
    (void)conf;
    if (stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;
    pace_t *p = calloc(1, sizeof *p);
    if (!p) return -ENOMEM;
    p->io.version = SND_PCM_IOPLUG_VERSION;
    p->io.name = "Zephyrane test pacer";
    p->io.callback = &callbacks;
    p->io.private_data = p;
    p->io.poll_fd = eventfd(1, EFD_NONBLOCK); /* always ready: callers do not block here */
    p->io.poll_events = POLLOUT;
    int err = snd_pcm_ioplug_create(&p->io, name, stream, mode);
    if (err < 0) {
        close(p->io.poll_fd);
        free(p);
        return err;
    }
    *pcmp = p->io.pcm;
    return 0;
}
SND_PCM_PLUGIN_SYMBOL(qxpace);

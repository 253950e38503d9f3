/* An ALSA PCM that opens and starts but fails every write with EIO. */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <stdlib.h>

static int fpStart(snd_pcm_ioplug_t *io) { (void)io; return 0; }
static int fpStop(snd_pcm_ioplug_t *io) { (void)io; return 0; }
static snd_pcm_sframes_t fpPointer(snd_pcm_ioplug_t *io) { (void)io; return 0; }
static snd_pcm_sframes_t fpTransfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                                    snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    (void)io, (void)areas, (void)offset, (void)size;
    return -EIO;
}
static int fpClose(snd_pcm_ioplug_t *io) { free(io); return 0; }

static const snd_pcm_ioplug_callback_t callbacks = {
    .start = fpStart, .stop = fpStop, .pointer = fpPointer, .transfer = fpTransfer, .close = fpClose,
};

SND_PCM_PLUGIN_DEFINE_FUNC(qxfail)
{
    (void)root, (void)conf;
    snd_pcm_ioplug_t *io = calloc(1, sizeof *io);
    if (!io) return -ENOMEM;
    io->version = SND_PCM_IOPLUG_VERSION;
    io->name = "failing writes";
    io->mmap_rw = 0;
    io->callback = &callbacks;
    int err = snd_pcm_ioplug_create(io, name, stream, mode);
    if (err < 0) { free(io); return err; }
    unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    unsigned int formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S16_BE};
    snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
    snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 3, formats);
    snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 8);
    snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 4000, 192000);
    snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
    snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    *pcmp = io->pcm;
    return 0;
}
SND_PCM_PLUGIN_SYMBOL(qxfail);

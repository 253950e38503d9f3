// Sound benchmarks against sox in the same run.
// (1) MixSample of N = 4, 8, 16 sources (60 s, 16-bit stereo, 48 kHz)
//     against "sox -D -m" of the same files to -n: times realtime and ratio.
// (2) Latency from PlaySample to the first bytes out of a file PCM writing
//     into a named pipe, beside a bare open-configure-write of that PCM.
// Usage: bench_media [seconds (60)] [directory (/tmp)] [latency runs (200)]
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "media/qx_sample.h"
#include "media/qx_soundcmds.h"
#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double timeShell(const std::string &cmd)
{
    double t = now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "peer failed: %s\n", cmd.c_str());
    return now() - t;
}

void benchMix(const std::string &dir, int seconds)
{
    std::vector<qxSound *> sounds;
    std::string files;
    for (int k = 0; k < 16; k++) {
        std::string name = dir + "/qxbench_mix" + std::to_string(k) + ".wav";
        char cmd[512];
        std::snprintf(cmd, sizeof cmd, "sox -n -r 48000 -b 16 -c 2 %s synth %d sine %d vol 0.05", name.c_str(),
                      seconds, 200 + 37 * k);
        if (std::system(cmd) != 0) {
            std::fprintf(stderr, "sox is needed for the mix benchmark\n");
            return;
        }
        qxSound *s = nullptr;
        if (qxDecodeSound(name.c_str(), nullptr, &s)) std::exit(2);
        sounds.push_back(s);
    }
    std::printf("MixSample, %d s of 16-bit stereo at 48 kHz per source (one core):\n", seconds);
    for (int n : {4, 8, 16}) {
        std::vector<qxMixSource> sources;
        files.clear();
        for (int k = 0; k < n; k++) {
            sources.push_back({sounds[size_t(k)], 48000, 0, -1, 1, 1.0});
            files += " " + dir + "/qxbench_mix" + std::to_string(k) + ".wav";
        }
        double best = 1e9;
        for (int run = 0; run < 3; run++) {
            qxSound *out = nullptr;
            double t = now();
            if (qxMixSounds(sources.data(), uint32_t(n), sounds[0]->frames, 48000, QX_SMP_S16STEREO, &out)) std::exit(2);
            best = std::min(best, now() - t);
            qxFreeSound(out);
        }
        double sox = timeShell("taskset -c 0 sox -D -m" + files + " -n");
        std::printf("  N=%2d  ours %7.1fx realtime  sox %7.1fx realtime  ratio %.2f (target 4)\n", n, seconds / best,
                    seconds / sox, sox / best);
    }
    for (int k = 0; k < 16; k++) {
        qxFreeSound(sounds[size_t(k)]);
        std::remove((dir + "/qxbench_mix" + std::to_string(k) + ".wav").c_str());
    }
}

// Reads the pipe until its writer closes it; stamps the first bytes. The
// pipe is open for reading before the constructor returns, so that the
// non-blocking PCM open finds a reader.
struct PipeReader {
    int fd;
    std::atomic<double> first{0};
    std::thread thread;
    explicit PipeReader(const std::string &path) : fd(open(path.c_str(), O_RDONLY | O_NONBLOCK))
    {
        thread = std::thread([this] {
            char buffer[65536];
            bool seen = false;
            while (true) {
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, 5000);
                ssize_t r = read(fd, buffer, sizeof buffer);
                if (r > 0 && !seen) {
                    first = now();
                    seen = true;
                }
                if (r == 0 && seen) break;
                if (r <= 0 && !(p.revents & POLLIN)) {
                    if (seen || p.revents == 0) break;
                    usleep(50);
                }
            }
            close(fd);
        });
    }
    double wait()
    {
        thread.join();
        return first;
    }
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1))];
}

void benchLatency(const std::string &dir, int runs)
{
    std::string home = dir + "/qxbench_home", fifo = home + "/pcm.fifo";
    std::system(("mkdir -p " + home).c_str());
    mkfifo(fifo.c_str(), 0600);
    FILE *rc = std::fopen((home + "/.asoundrc").c_str(), "w");
    std::fprintf(rc, "pcm.!default { type file; slave.pcm \"null\"; file \"%s\"; format \"raw\" }\n", fifo.c_str());
    std::fclose(rc);
    setenv("HOME", home.c_str(), 1);
    qxImportLibraries();
    if (!qxAlsaAvailable() || qxCreateAudioLocks() || qxOpenAudioDevice(8)) {
        std::fprintf(stderr, "libasound is needed for the latency benchmark\n");
        return;
    }
    auto *data = static_cast<uint8_t *>(qxAlloc(4800 * 4, 1));
    qxSound *sound = nullptr;
    qxSoundFromRaw(data, 4800, 48000, QX_SMP_S16STEREO, &sound);
    auto open = reinterpret_cast<decltype(&snd_pcm_open)>(qxLibImports.snd_pcm_open);
    auto write = reinterpret_cast<decltype(&snd_pcm_writei)>(qxLibImports.snd_pcm_writei);
    auto closePcm = reinterpret_cast<decltype(&snd_pcm_close)>(qxLibImports.snd_pcm_close);
    auto setParams = reinterpret_cast<decltype(&snd_pcm_set_params)>(dlsym(qxLibImports.handle[QX_LIB_ALSA], "snd_pcm_set_params"));
    std::vector<double> floor, ours;
    for (int i = 0; i < runs; i++) {
        {
            PipeReader reader(fifo);
            double t = now();
            snd_pcm_t *pcm = nullptr;
            open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0);
            setParams(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, 48000, 1, 100000);
            write(pcm, sound->data, 4800);
            closePcm(pcm);
            floor.push_back(reader.wait() - t);
        }
        {
            PipeReader reader(fifo);
            double t = now();
            int index = -1;
            qxChannel *c = nullptr;
            qxAllocChannel(QX_CH_PREPARED, {1, nullptr}, &index, &c);
            c->sound = sound;
            c->volume = 64;
            c->startPending = 1;
            qxSetupPasses(c, sound->frames, 48000, 1, -1);
            qxAlsaOpenChannel(c, "default", 16, 2, QX_SOUND_SIGNED, 48000);
            qxStartPrepared();
            while (qxIsSoundPlaying(sound)) usleep(200);
            qxReapChannels(); // closes the PCM, ending the reader
            ours.push_back(reader.wait() - t);
        }
    }
    std::printf("Latency to the first bytes on a file PCM (%d runs), ms:\n", runs);
    std::printf("  bare open-configure-write  median %.3f  p99 %.3f\n", percentile(floor, 0.5) * 1e3,
                percentile(floor, 0.99) * 1e3);
    std::printf("  PlaySample                 median %.3f  p99 %.3f  (target: median within floor + 0.6, p99 under 2)\n",
                percentile(ours, 0.5) * 1e3, percentile(ours, 0.99) * 1e3);
    qxCloseAudioDevice();
    qxFreeSound(sound);
    std::remove(fifo.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    int runs = argc > 3 ? std::atoi(argv[3]) : 200;
    benchMix(dir, seconds);
    benchLatency(dir, runs);
    return 0;
}

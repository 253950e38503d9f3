// Protracker module replayer. Time runs in internal samples at twice the
// output rate; ticks fall between them. Each channel is rendered in spans
// between events (a tick, its loop end or sample end), which gives the
// same result as stepping sample by sample at a fraction of the cost.
#include "media/qx_modplayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Protracker periods: 16 finetunes (0..7, then -8..-1) x 36 notes, C-1..B-3,
// as published with the module format.
const uint16_t periodTable[16][36] = {
    {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
     302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113},
    {850, 802, 757, 715, 674, 637, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337, 318,
     300, 284, 268, 253, 239, 225, 213, 201, 189, 179, 169, 159, 150, 142, 134, 126, 119, 113},
    {844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335, 316,
     298, 282, 266, 251, 237, 224, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118, 112},
    {838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332, 314,
     296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118, 111},
    {832, 785, 741, 699, 660, 623, 588, 555, 524, 495, 467, 441, 416, 392, 370, 350, 330, 312,
     294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 124, 117, 110},
    {826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328, 309,
     292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116, 109},
    {820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325, 307,
     290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115, 109},
    {814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323, 305,
     288, 272, 256, 242, 228, 216, 204, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114, 108},
    {907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339,
     320, 302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120},
    {900, 850, 802, 757, 715, 675, 636, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337,
     318, 300, 284, 268, 253, 238, 225, 212, 200, 189, 179, 169, 159, 150, 142, 134, 126, 119},
    {894, 844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335,
     316, 298, 282, 266, 251, 237, 223, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118},
    {887, 838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332,
     314, 296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118},
    {881, 832, 785, 741, 699, 660, 623, 588, 555, 524, 494, 467, 441, 416, 392, 370, 350, 330,
     312, 294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 123, 117},
    {875, 826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328,
     309, 292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116},
    {868, 820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325,
     307, 290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115},
    {862, 814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323,
     305, 288, 272, 256, 242, 228, 216, 203, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114},
};

const uint8_t sineTable[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                               224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                               212, 197, 180, 161, 141, 120, 97,  74,  49,  24};
const uint8_t invertSpeeds[16] = {0, 5, 6, 7, 8, 10, 11, 13, 16, 19, 22, 26, 32, 43, 64, 128};

constexpr uint32_t FL_ROWTICK = 1, FL_PORTA = 2;
constexpr uint32_t MIN_PERIOD = 113, MAX_PERIOD = 856;
constexpr uint32_t BLOCK = 1024; // internal samples rendered per pass

uint32_t rd16(const uint8_t *p) { return uint32_t(p[0]) << 8 | p[1]; }

qxModNote *patterns(qxModPlayer *p) { return reinterpret_cast<qxModNote *>(p + 1); }

const int8_t *sampleData(const qxModPlayer *p, const qxModSample &s)
{
    if (s.copied) return reinterpret_cast<const int8_t *>(p) + s.copyOffset;
    return reinterpret_cast<const int8_t *>(p->fileData) + s.dataOffset;
}

bool looped(const qxModSample &s) { return s.loopLength > 2; }

// The nearest of the finetune-0 periods; the file may hold any period.
uint32_t noteIndexOf(uint32_t period)
{
    uint32_t best = 0, bestDiff = ~0u;
    for (uint32_t i = 0; i < 36; i++) {
        uint32_t d = period > periodTable[0][i] ? period - periodTable[0][i] : periodTable[0][i] - period;
        if (d < bestDiff) bestDiff = d, best = i;
    }
    return best;
}

uint32_t clampPeriod(int64_t v) { return uint32_t(std::clamp<int64_t>(v, MIN_PERIOD, MAX_PERIOD)); }
int32_t clampVolume(int32_t v) { return std::clamp(v, 0, 63); }

void setStep(const qxModPlayer *p, qxModChannel &c, uint32_t period)
{
    uint64_t d = uint64_t(period) * p->internalRate / 50;
    c.step = d ? uint32_t(1172874197ull / d) : 0;
}

// Slides and portamento keep the exact period; with glissando the pitch
// snaps to the first finetuned period not above it.
void setSlidStep(const qxModPlayer *p, qxModChannel &c)
{
    uint32_t period = c.currentPeriod;
    if (c.glissInvert) {
        const uint16_t *row = periodTable[c.finetune & 15];
        uint32_t i = 0;
        while (i < 35 && row[i] > period) i++;
        period = row[i];
    }
    setStep(p, c, period);
}

int32_t wave(uint32_t type, uint32_t pos)
{
    pos &= 63;
    switch (type & 3) {
    case 0: return pos < 32 ? sineTable[pos] : -int32_t(sineTable[pos - 32]);
    case 2: return pos < 32 ? 255 : -255;
    default: return int32_t(pos * 8) - (pos >= 32 ? 512 : 0);
    }
}

// Starts the channel's sample at a byte offset; an offset past a one-shot
// sample stops it, past a looped one starts at the loop.
void startSample(qxModPlayer *p, qxModChannel &c, uint32_t offset)
{
    const qxModSample &s = p->samples[c.sample];
    if (offset >= s.length && offset) {
        c.position = looped(s) ? int64_t(s.fxLoopStart) : -1;
        return;
    }
    c.position = int64_t(offset) << 14;
}

void triggerNote(qxModPlayer *p, qxModChannel &c, uint32_t index, uint32_t offset)
{
    c.vibPos = c.tremPos = 0;
    c.noteIndex = index;
    c.basePeriod = c.currentPeriod = c.period = periodTable[c.finetune & 15][index];
    setStep(p, c, c.currentPeriod);
    startSample(p, c, offset);
}

void volumeSlide(qxModChannel &c, uint32_t x, uint32_t y) { c.volumeSlide = x ? int32_t(x) : -int32_t(y); }

void invertLoop(qxModPlayer *p, qxModChannel &c, bool audible)
{
    uint32_t s = c.glissInvert >> 4;
    if (!s) return;
    c.invertAcc += invertSpeeds[s];
    if (c.invertAcc % 8) return;
    c.invertAcc = 0;
    qxModSample &smp = p->samples[c.sample];
    if (++c.invertPos >= smp.loopLength) c.invertPos = 0;
    // Only the audible renderer inverts, in its own copy of the sample.
    if (audible && looped(smp) && smp.loopStart && smp.copyOffset) {
        auto *copy = reinterpret_cast<uint8_t *>(p) + smp.copyOffset;
        if (!smp.copied) {
            std::memcpy(copy, p->fileData + smp.dataOffset, smp.length);
            smp.copied = 1;
        }
        uint32_t at = smp.loopStart + c.invertPos;
        if (at < smp.length) copy[at] = uint8_t(~copy[at]);
    }
    if (c.position >= 0) c.position += int64_t(c.invertPos) << 14;
}

void readRow(qxModPlayer *p, bool audible, uint32_t &loopJump)
{
    const qxModNote *notes = patterns(p) + (uint32_t(p->order[p->songPosition]) * 64 + p->row) * 4;
    for (int ch = 0; ch < 4; ch++) {
        qxModChannel &c = p->channels[ch];
        const qxModNote &n = notes[ch];
        uint32_t eff = n.effect, x = n.x, y = n.y, prm = n.parameter;
        uint32_t period = n.period;
        bool vibRan = c.vibActive;
        c.currentVolume = c.volume;
        c.flags = FL_ROWTICK;
        c.vibActive = c.tremActive = 0;
        c.volumeSlide = c.slideAmount = 0;
        c.retrigCount = c.retrigCounter = c.cutCounter = c.delayCounter = 0;
        c.effect = eff;
        c.parameter = prm;
        bool keepVibrato = (eff == 3 && period) || ((eff == 4 || eff == 6) && !period && vibRan);
        if (!keepVibrato && c.currentPeriod != c.basePeriod) {
            c.currentPeriod = c.basePeriod;
            setStep(p, c, c.currentPeriod);
        }
        uint32_t smp = n.sample <= 31 ? n.sample : 0; // higher numbers name no sample
        if (smp && period) {
            c.sample = c.lastSample = smp;
            c.pendingSample = 0;
            c.volume = c.currentVolume = std::min<int32_t>(int32_t(p->samples[smp].volume), 63);
            c.finetune = p->samples[smp].finetune;
        } else if (smp) {
            c.pendingSample = smp;
            c.volume = c.currentVolume = std::min<int32_t>(int32_t(p->samples[smp].volume), 63);
        } else if (period && (eff == 0 || eff == 0xC || eff == 0xF)) {
            c.sample = c.lastSample;
            c.finetune = p->samples[c.sample].finetune;
        }
        if (period && eff == 0xE && x == 5) c.finetune = y;

        uint32_t offset = 0;
        if (eff == 9 && period) {
            if (prm) c.offsetMemory = prm * 256;
            offset = c.offsetMemory;
        }
        if (period) {
            uint32_t index = noteIndexOf(period);
            if (eff == 3 || eff == 5) {
                c.portaTarget = periodTable[c.finetune & 15][index];
                c.noteIndex = index;
            } else if (eff == 0xE && x == 0xD && y) {
                c.delayedNote = index + 1;
                c.delayCounter = y + 1;
            } else {
                triggerNote(p, c, index, offset);
            }
        }

        switch (eff) {
        case 1: c.slideAmount = -int32_t(prm); break;
        case 2: c.slideAmount = int32_t(prm); break;
        case 3:
            if (prm) c.portaSpeed = prm;
            c.flags |= FL_PORTA;
            break;
        case 4:
            if (x) c.vibSpeed = x;
            if (y) c.vibDepth = y;
            c.vibActive = 1;
            break;
        case 5: c.flags |= FL_PORTA; volumeSlide(c, x, y); break;
        case 6: c.vibActive = 1; volumeSlide(c, x, y); break;
        case 7:
            if (x) c.tremSpeed = x;
            if (y) c.tremDepth = 2 * y;
            c.tremActive = 1;
            break;
        case 0xA: volumeSlide(c, x, y); break;
        case 0xB: {
            uint32_t to = prm < p->songLength ? prm : 0;
            if (to <= p->songPosition) {
                p->flags |= QX_MOD_ENDED;
                if (p->flags & QX_MOD_STOPATEND) p->endCount++;
            }
            p->jumpFlag = 1;
            p->jumpPosition = to;
            break;
        }
        case 0xC: c.volume = c.currentVolume = int32_t(std::min<uint32_t>(prm, 63)); break;
        case 0xD: {
            uint32_t r = x * 10 + y;
            p->breakFlag = 1;
            p->breakRow = uint8_t(r >= 64 ? 0 : r);
            break;
        }
        case 0xE:
            switch (x) {
            case 0:
                if (p->flags & QX_MOD_FILTERCMD) p->filterOn = y == 0;
                break;
            case 1:
                c.basePeriod = c.currentPeriod = clampPeriod(int64_t(c.basePeriod) - y);
                setStep(p, c, c.currentPeriod);
                break;
            case 2:
                c.basePeriod = c.currentPeriod = clampPeriod(int64_t(c.basePeriod) + y);
                setStep(p, c, c.currentPeriod);
                break;
            case 3: c.glissInvert = y; break;
            case 4: c.vibWave = y & 3; break;
            case 6:
                if (!y) {
                    c.loopRow = p->row;
                } else if (!c.loopCount) {
                    c.loopCount = y;
                    loopJump = c.loopRow + 1;
                } else if (--c.loopCount) {
                    loopJump = c.loopRow + 1;
                }
                break;
            case 7: c.tremWave = y & 3; break;
            case 9: c.retrigCount = c.retrigCounter = y; break;
            case 0xA: c.volume = c.currentVolume = clampVolume(c.volume + int32_t(y)); break;
            case 0xB: c.volume = c.currentVolume = clampVolume(c.volume - int32_t(y)); break;
            case 0xC: c.cutCounter = y + 1; break;
            case 0xE:
                if (!p->patternDelay) p->patternDelay = uint8_t(y);
                break;
            case 0xF: c.glissInvert = y << 4; break;
            default: break;
            }
            break;
        case 0xF:
            if (prm >= 32) {
                p->tempo = uint8_t(prm);
                p->samplesPerTick = float(p->internalRate) * 60.0f / float(prm * 24);
            } else if (prm) {
                p->speed = uint8_t(prm);
            } else {
                p->flags |= QX_MOD_ENDED;
                if (p->flags & QX_MOD_STOPATEND) p->endCount++;
            }
            break;
        default: break;
        }
        invertLoop(p, c, audible);
    }
}

void perTick(qxModPlayer *p, bool first)
{
    for (qxModChannel &c : p->channels) {
        uint32_t eff = c.effect, x = c.parameter >> 4, y = c.parameter & 15;
        if (eff == 0 && c.parameter) {
            uint32_t m = p->tickCounter % 3;
            uint32_t index = std::min<uint32_t>(c.noteIndex + (m == 2 ? y : m == 1 ? x : 0), 35);
            setStep(p, c, periodTable[c.finetune & 15][index]);
        }
        if (!first) {
            if (c.slideAmount) {
                c.basePeriod = c.currentPeriod = clampPeriod(int64_t(c.basePeriod) + c.slideAmount);
                setSlidStep(p, c);
            }
            if ((c.flags & FL_PORTA) && c.portaTarget && c.basePeriod) {
                int64_t b = c.basePeriod, t = c.portaTarget, s = c.portaSpeed;
                b = b < t ? std::min(b + s, t) : std::max(b - s, t);
                c.basePeriod = c.currentPeriod = clampPeriod(b);
                setSlidStep(p, c);
            }
            if (c.vibActive) {
                int32_t v = (wave(c.vibWave, c.vibPos) * int32_t(c.vibDepth)) >> 7;
                c.currentPeriod = clampPeriod(int64_t(c.basePeriod) + v);
                setStep(p, c, c.currentPeriod);
                c.vibPos = (c.vibPos + c.vibSpeed) & 63;
            }
        }
        if (c.volumeSlide) c.volume = c.currentVolume = clampVolume(c.volume + c.volumeSlide);
        if (c.tremActive) {
            int32_t v = (wave(c.tremWave, c.tremPos) * int32_t(c.tremDepth)) >> 8;
            c.currentVolume = clampVolume(c.volume + v);
            c.tremPos = (c.tremPos + c.tremSpeed) & 63;
        }
        if (c.retrigCount) {
            if (!c.retrigCounter) {
                startSample(p, c, 0);
                c.retrigCounter = c.retrigCount;
            }
            c.retrigCounter--;
        }
        if (c.cutCounter && !--c.cutCounter) c.volume = c.currentVolume = 0;
        if (c.delayCounter && !--c.delayCounter && c.delayedNote) {
            triggerNote(p, c, c.delayedNote - 1, 0);
            c.delayedNote = 0;
        }
    }
}

void tick(qxModPlayer *p, bool audible)
{
    if (p->tickCounter) {
        p->tickCounter--;
        perTick(p, false);
        return;
    }
    if (p->patternDelay) {
        p->patternDelay--;
        p->tickCounter = uint8_t(p->speed - 1);
        perTick(p, false);
        return;
    }
    uint32_t loopJump = 0;
    p->breakFlag = p->jumpFlag = 0;
    readRow(p, audible, loopJump);
    if (loopJump) {
        p->row = uint8_t(loopJump - 1);
    } else if (p->jumpFlag) {
        p->songPosition = uint8_t(p->jumpPosition);
        p->row = p->breakFlag ? p->breakRow : 0;
    } else if (p->breakFlag) {
        p->songPosition++;
        p->row = p->breakRow;
    } else if (++p->row == 64) {
        p->row = 0;
        p->songPosition++;
    }
    if (p->songPosition >= p->songLength) {
        p->flags |= QX_MOD_ENDED;
        p->endCount++;
        p->songPosition = 0;
    }
    p->tickCounter = uint8_t(p->speed - 1);
    perTick(p, true);
}

// Renders count internal samples of one channel into the sums (or only
// advances it when sums are null).
void renderChannel(qxModPlayer *p, qxModChannel &c, int32_t *left, int32_t *right, uint32_t count)
{
    uint32_t j = 0;
    while (j < count && c.position >= 0) {
        const qxModSample *s = &p->samples[c.sample];
        uint64_t pos = uint64_t(c.position);
        uint32_t limit;
        if (!looped(*s)) {
            if (pos >= s->fxLength) {
                c.position = -1;
                break;
            }
            limit = s->fxLength;
        } else {
            if (pos >= s->fxLoopEnd) {
                c.position = int64_t(s->fxLoopStart + (pos - s->fxLoopEnd) % s->fxLoopLength);
                if (c.pendingSample) {
                    c.sample = c.pendingSample;
                    c.pendingSample = 0;
                }
                continue; // the new sample's bounds apply to this read
            }
            limit = s->fxLoopEnd;
        }
        uint32_t n = count - j;
        if (c.step) n = uint32_t(std::min<uint64_t>(n, (limit - pos + c.step - 1) / c.step));
        if (left) {
            const int8_t *data = sampleData(p, *s);
            int32_t vl = c.currentVolume * int32_t(c.panning);
            int32_t vr = c.currentVolume * int32_t(255 - c.panning);
            uint32_t at = uint32_t(pos), step = c.step;
            int32_t *l = left + j, *r = right + j;
            // Hard-panned channels (the usual case) feed one side only.
            if (vl && vr) {
                for (uint32_t t = 0; t < n; t++, at += step) {
                    int32_t b = data[at >> 14];
                    l[t] += b * vl;
                    r[t] += b * vr;
                }
            } else if (vl | vr) {
                int32_t *d = vl ? l : r;
                int32_t v = vl | vr;
                for (uint32_t t = 0; t < n; t++, at += step) d[t] += data[at >> 14] * v;
            }
        }
        c.position = int64_t(pos + uint64_t(n) * c.step);
        j += n;
    }
}

// Counts the samples until the next tick as adding 1 to the float counter
// per sample would, and leaves the counter there. Inside one binade (at
// most 2^23) adding m at once is exact; the steps that cross a binade
// boundary, and may round, are taken one at a time.
uint32_t countRun(float &counter, float samplesPerTick, uint32_t most)
{
    float c = counter;
    uint32_t run = 0;
    for (;;) {
        c += 1;
        run++;
        if (run >= most || c - samplesPerTick >= 0) break;
        if (c >= 1 && c < 8388608.0f) {
            int e;
            std::frexp(c, &e);
            double top = std::min(std::ldexp(1.0, e), double(samplesPerTick));
            double m = std::ceil(top - double(c)) - 1;
            m = std::min(m, double(most - run));
            if (m > 0) {
                c = float(double(c) + m);
                run += uint32_t(m);
                if (run >= most) break;
            }
        }
    }
    counter = c;
    return run;
}

// The two cascaded first-order stages, per side, in place on the sums
// (which leave it as values already shifted by 7).
void filterBlock(qxModPlayer *p, int32_t *sumL, int32_t *sumR, uint32_t n)
{
    double a = p->filterA, b = p->filterB;
    int32_t *sides[2] = {sumL, sumR};
    for (int side = 0; side < 2; side++) {
        double *st = p->filterState[side];
        double x1 = st[0], y1p = st[1], y2p = st[2];
        int32_t *v = sides[side];
        for (uint32_t i = 0; i < n; i++) {
            double x = v[i] >> 7;
            double y1 = b * (x + x1) + a * y1p;
            double y2 = b * (y1 + y1p) + a * y2p;
            x1 = x, y1p = y1, y2p = y2;
            v[i] = int32_t(std::clamp(y2, -32768.0, 32767.0)) * 128;
        }
        st[0] = x1, st[1] = y1p, st[2] = y2p;
    }
}

// Clamps each internal sample, sums OS of them per side and scales by the
// master level into interleaved frames.
template <uint32_t OS>
void downmix(const int32_t *sumL, const int32_t *sumR, uint32_t frames, int32_t master, int16_t *out)
{
    constexpr int shift = OS == 2 ? 9 : 8;
    for (uint32_t f = 0; f < frames; f++) {
        int32_t l = 0, r = 0;
        for (uint32_t k = 0; k < OS; k++) {
            l += std::clamp(sumL[f * OS + k] >> 7, -32768, 32767);
            r += std::clamp(sumR[f * OS + k] >> 7, -32768, 32767);
        }
        out[2 * f] = int16_t(std::clamp((l * master) >> shift, -32768, 32767));
        out[2 * f + 1] = int16_t(std::clamp((r * master) >> shift, -32768, 32767));
    }
}

void applyPending(qxModPlayer *p)
{
    if (!p->pendingSet) return;
    p->pendingSet = 0;
    p->songPosition = uint8_t(p->pendingPosition);
    p->row = uint8_t(p->pendingRow);
    p->tickCounter = 0;
    p->patternDelay = 0;
}

template <typename T>
void writeOut(void *out, uint32_t stride, uint32_t i, int32_t v)
{
    auto *d = static_cast<uint8_t *>(out) + size_t(i) * stride;
    if constexpr (sizeof(T) == 2) {
        int16_t s = int16_t(v);
        std::memcpy(d, &s, 2);
    } else {
        *d = uint8_t((v >> 8) + 128);
    }
}

} // namespace

extern "C" {

int qxIsModule(const uint8_t *data, uint32_t size)
{
    return size >= 1084 && !std::memcmp(data + 1080, "M.K.", 4);
}

uint32_t qxModSetup(qxModPlayer *state, const uint8_t *data, uint32_t size, uint32_t rate)
{
    if (!data || size < 1084) return 0;
    uint32_t count = 0;
    for (int i = 0; i < 128; i++) count = std::max<uint32_t>(count, data[952 + i] + 1u);
    uint64_t need = 1084 + uint64_t(count) * 1024;
    if (size < need) return 0;
    uint64_t bytes = sizeof(qxModPlayer) + uint64_t(count) * 256 * sizeof(qxModNote);
    bytes = (bytes + 7) & ~uint64_t(7);

    // Sample headers: lengths in words, loops clamped to what the file holds.
    qxModSample samples[32] = {};
    uint64_t offset = need;
    for (int i = 1; i <= 31; i++) {
        const uint8_t *h = data + 20 + (i - 1) * 30;
        qxModSample &s = samples[i];
        std::memcpy(s.name, h, 22);
        uint32_t length = rd16(h + 22) * 2;
        uint32_t avail = offset < size ? uint32_t(size - offset) : 0;
        s.length = std::min(length, avail);
        s.dataOffset = offset < size ? uint32_t(offset) : size;
        offset += length;
        s.finetune = h[24] & 15;
        s.volume = h[25];
        s.loopStart = rd16(h + 26) * 2;
        s.loopLength = rd16(h + 28) * 2;
        if (s.loopLength > 2) {
            if (s.loopStart >= s.length) s.loopStart = s.loopLength = 0;
            else s.loopLength = std::min(s.loopLength, s.length - s.loopStart);
        }
        if (s.loopLength <= 2) s.loopStart = 0;
        s.fxLength = s.length << 14;
        s.fxLoopStart = s.loopStart << 14;
        s.fxLoopLength = s.loopLength << 14;
        s.fxLoopEnd = (s.loopStart + s.loopLength) << 14;
        if (s.loopLength > 2 && s.loopStart) {
            s.copyOffset = uint32_t(bytes);
            bytes += (s.length + 7) & ~7u;
        }
    }
    if (!state) return uint32_t(bytes);

    std::memset(static_cast<void *>(state), 0, size_t(bytes));
    qxModPlayer *p = state;
    std::memcpy(p->songName, data, 20);
    std::memcpy(p->samples, samples, sizeof samples);
    p->patternCount = count;
    p->songLength = std::clamp<uint32_t>(data[950], 1, 128);
    std::memcpy(p->order, data + 952, 128);
    qxModNote *notes = patterns(p);
    for (uint32_t i = 0; i < count * 256; i++) {
        const uint8_t *b = data + 1084 + i * 4;
        qxModNote &n = notes[i];
        n.period = (b[0] & 15u) << 8 | b[1];
        n.sample = (b[0] & 0xF0u) + (b[2] >> 4);
        n.effect = b[2] & 15;
        n.parameter = b[3];
        n.x = b[3] >> 4;
        n.y = b[3] & 15;
    }
    rate = std::clamp<uint32_t>(rate, 1000, 400000);
    p->internalRate = 2 * rate;
    p->masterLevel = 256;
    p->flags = QX_MOD_FILTERCMD;
    static const uint32_t pans[4] = {0, 255, 255, 0};
    for (int i = 0; i < 4; i++) {
        p->channels[i].position = -1;
        p->channels[i].panning = pans[i];
    }
    p->speed = 6;
    p->tempo = 125;
    p->samplesPerTick = float(p->internalRate) / 50.0f;
    double c = std::atan(4000.0 * M_PI / rate);
    p->filterA = (1 - c) / (1 + c);
    p->filterB = 0.5 * (1 - p->filterA);
    p->fileData = data;
    p->fileSize = size;
    p->stateSize = uint32_t(bytes);
    return 1;
}

void qxModMix(qxModPlayer *p, void *left, void *right, uint32_t stride, uint32_t frames,
              int stereo, int bits, int oversampling)
{
    applyPending(p);
    uint32_t os = oversampling >= 2 ? 2 : 1;
    bool audible = left != nullptr;
    alignas(32) int32_t sumL[BLOCK], sumR[BLOCK];
    uint32_t done = 0;
    while (done < frames) {
        uint32_t outFrames = std::min(frames - done, BLOCK / os);
        uint32_t n = outFrames * os;
        if (p->endCount && (p->flags & QX_MOD_STOPATEND)) {
            if (left) {
                for (uint32_t i = 0; i < outFrames; i++) {
                    if (bits == 16) writeOut<int16_t>(left, stride, done + i, 0);
                    else writeOut<uint8_t>(left, stride, done + i, 0);
                    if (stereo && right) {
                        if (bits == 16) writeOut<int16_t>(right, stride, done + i, 0);
                        else writeOut<uint8_t>(right, stride, done + i, 0);
                    }
                }
            }
            done += outFrames;
            continue;
        }
        std::memset(sumL, 0, n * 4);
        std::memset(sumR, 0, n * 4);
        uint32_t i = 0;
        while (i < n) {
            while (p->sampleCounter - p->samplesPerTick >= 0) {
                p->sampleCounter -= p->samplesPerTick;
                tick(p, audible);
            }
            // The samples until the next tick, counted as the per-sample
            // counter would count them.
            float counter = p->sampleCounter;
            uint32_t run = countRun(counter, p->samplesPerTick, n - i);
            // A follower renders while the filter runs too, so that its
            // filter state stays the audible one's (a resume starts from it).
            // The filter is switched at ticks only: a run is filtered whole.
            bool sums = audible || p->filterOn;
            for (qxModChannel &c : p->channels)
                renderChannel(p, c, sums ? sumL + i : nullptr, sums ? sumR + i : nullptr, run);
            if (p->filterOn) filterBlock(p, sumL + i, sumR + i, run);
            p->sampleCounter = counter;
            i += run;
        }
        if (audible) {
            alignas(32) int16_t frame[BLOCK * 2];
            if (os == 2) downmix<2>(sumL, sumR, outFrames, int32_t(p->masterLevel), frame);
            else downmix<1>(sumL, sumR, outFrames, int32_t(p->masterLevel), frame);
            auto *l16 = static_cast<int16_t *>(left);
            if (bits == 16 && stereo && stride == 4 && right == l16 + 1) {
                std::memcpy(l16 + size_t(done) * 2, frame, size_t(outFrames) * 4);
            } else {
                for (uint32_t f = 0; f < outFrames; f++) {
                    int32_t l = frame[2 * f], r = frame[2 * f + 1];
                    if (!stereo || !right) {
                        int32_t m = (l + r) / 2;
                        if (bits == 16) writeOut<int16_t>(left, stride, done + f, m);
                        else writeOut<uint8_t>(left, stride, done + f, m);
                    } else if (bits == 16) {
                        writeOut<int16_t>(left, stride, done + f, l);
                        writeOut<int16_t>(right, stride, done + f, r);
                    } else {
                        writeOut<uint8_t>(left, stride, done + f, l);
                        writeOut<uint8_t>(right, stride, done + f, r);
                    }
                }
            }
        }
        done += outFrames;
    }
}

int qxModPosition(qxModPlayer *p, int request, int value)
{
    switch (request) {
    case 0:
        // A position past the song plays from the start.
        p->pendingPosition = value >= 0 && uint32_t(value) < p->songLength ? uint32_t(value) : 0;
        p->pendingRow = 0;
        p->pendingSet = 1;
        return 0;
    case 1: return p->playing ? p->row : -1;
    case 2: return p->playing ? p->songPosition : -1;
    default: return -1;
    }
}

} // extern "C"

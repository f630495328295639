#include "synth.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace soundtrack {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;
constexpr double kFs = kSampleRate;

// Where each voice's samples go. The pad has its own pair so that the kick
// can duck it (the "pumping" that makes the pulse felt in the harmony).
struct Bus {
    std::size_t frames = 0;
    std::vector<float> dryL, dryR;
    std::vector<float> padL, padR;
    std::vector<float> delaySend;   // mono, into the ping-pong delay
    std::vector<float> reverbSend;  // mono, into the reverb
};

struct Sends {
    float dry;
    float delay;
    float reverb;
    bool ducked;
};

void put(Bus& bus, std::size_t i, float l, float r, const Sends& s) {
    if (s.ducked) {
        bus.padL[i] += l * s.dry;
        bus.padR[i] += r * s.dry;
    } else {
        bus.dryL[i] += l * s.dry;
        bus.dryR[i] += r * s.dry;
    }
    const float mono = 0.5f * (l + r);
    bus.delaySend[i] += mono * s.delay;
    bus.reverbSend[i] += mono * s.reverb;
}

// Equal-power pan for mono voices.
struct Pan {
    float l, r;
};

Pan panOf(float pan) {
    const double a = (pan + 1.0) * kPi / 4.0;
    return {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
}

// Balance for voices that are already stereo.
Pan balanceOf(float pan) {
    return {std::min(1.0f, 1.0f - pan), std::min(1.0f, 1.0f + pan)};
}

double midiToHz(double pitch) { return 440.0 * std::pow(2.0, (pitch - 69.0) / 12.0); }

double lerp(double a, double b, double x) { return a + (b - a) * x; }

struct Noise {
    std::uint32_t state;
};

Noise noiseFrom(std::uint32_t seed) { return Noise{seed | 1u}; }

float white(Noise& n) {  // -1 .. 1
    n.state ^= n.state << 13;
    n.state ^= n.state >> 17;
    n.state ^= n.state << 5;
    return static_cast<float>(static_cast<std::int32_t>(n.state) * (1.0 / 2147483648.0));
}

double phaseFrom(std::uint32_t seed, int k) {  // 0 .. 1
    Noise n = noiseFrom(seed * 2654435761u + static_cast<std::uint32_t>(k) * 40503u);
    white(n);
    return (n.state >> 8) * (1.0 / 16777216.0);
}

// Topology-preserving state-variable filter: stays stable while the cutoff
// moves, which every voice here does.
struct SvfCoef {
    float k, a1, a2, a3;
};

SvfCoef svfCoef(double cutoff, double k) {
    cutoff = std::clamp(cutoff, 10.0, 0.45 * kFs);
    const double g = std::tan(kPi * cutoff / kFs);
    const double a1 = 1.0 / (1.0 + g * (g + k));
    const double a2 = g * a1;
    return {static_cast<float>(k), static_cast<float>(a1), static_cast<float>(a2),
            static_cast<float>(g * a2)};
}

struct Svf {
    float ic1 = 0, ic2 = 0;
    float low = 0, band = 0, high = 0;
};

void svfTick(Svf& f, const SvfCoef& c, float x) {
    const float v3 = x - f.ic2;
    const float v1 = c.a1 * f.ic1 + c.a2 * v3;
    const float v2 = f.ic2 + c.a2 * f.ic1 + c.a3 * v3;
    f.ic1 = 2 * v1 - f.ic1;
    f.ic2 = 2 * v2 - f.ic2;
    f.low = v2;
    f.band = v1;
    f.high = x - c.k * v1 - v2;
}

// Band-limited sawtooth (polyBLEP) so high notes do not alias into hiss.
float polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return static_cast<float>(t + t - t * t - 1.0);
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return static_cast<float>(t * t + t + t + 1.0);
    }
    return 0.0f;
}

float saw(double& phase, double inc) {
    const float y = static_cast<float>(2.0 * phase - 1.0) - polyBlep(phase, inc);
    phase += inc;
    if (phase >= 1.0) phase -= 1.0;
    return y;
}

float sine(double& phase, double inc) {
    const float y = static_cast<float>(std::sin(kTwoPi * phase));
    phase += inc;
    if (phase >= 1.0) phase -= 1.0;
    return y;
}

// Linear attack, held while the gate is open, then an exponential release
// that lands exactly on zero after `release` seconds.
float gateEnv(double t, double attack, double gate, double release) {
    auto rise = [attack](double x) { return attack > 0 ? std::min(1.0, x / attack) : 1.0; };
    if (t <= gate) return static_cast<float>(rise(t));
    const double x = (t - gate) / release;
    if (x >= 1.0) return 0.0f;
    return static_cast<float>(rise(gate) * std::exp(-4.0 * x) * (1.0 - x));
}

struct Span {
    std::size_t begin, end;
};

Span spanOf(const Note& n, double tailSeconds, std::size_t frames) {
    const auto begin = static_cast<std::size_t>(std::llround(n.start * kFs));
    const auto len = static_cast<std::size_t>(std::ceil((n.length + tailSeconds) * kFs));
    return {std::min(begin, frames), std::min(begin + len, frames)};
}

double scaled(double seconds, double timeScale) {
    return std::max(0.005, seconds * timeScale);
}

void renderDrone(const Note& n, const Score&, Bus& bus) {
    const Span s = spanOf(n, 0, bus.frames);
    const double f = midiToHz(n.pitch);
    const double total = std::max(1.0, n.length * kFs);
    const double fadeIn = 0.05 * total, fadeOut = 0.04 * total;
    double pSub = 0, pMain = 0, pFifth = 0, pSawL = 0.3, pSawR = 0.7;
    Svf fl, fr, wind;
    SvfCoef lowCoef{}, windCoef{};
    Noise noise = noiseFrom(n.seed);
    float intensity = 0;
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double k = static_cast<double>(i - s.begin);
        const double t = k / kFs;
        if ((i - s.begin) % 64 == 0) {
            // The drone's own position maps to the form's time, whatever
            // length the piece is rendered at.
            intensity = static_cast<float>(intensityAt(k / total * kFormSeconds));
            lowCoef = svfCoef(90 + 1100 * intensity * intensity +
                                  40 * std::sin(kTwoPi * 0.05 * t), 1.1);
            windCoef = svfCoef(420 + 220 * std::sin(kTwoPi * 0.037 * t + 1.0), 0.35);
        }
        const float sub = 0.45f * sine(pSub, f / kFs);
        const float main = 0.6f * sine(pMain, 2 * f / kFs);
        const float fifth = 0.22f * intensity * sine(pFifth, 3 * f / kFs);
        svfTick(fl, lowCoef, saw(pSawL, 2 * f * 0.9985 / kFs));
        svfTick(fr, lowCoef, saw(pSawR, 2 * f * 1.0015 / kFs));
        svfTick(wind, windCoef, white(noise));
        double env = 1.0;
        if (k < fadeIn) env = k / fadeIn;
        if (total - k < fadeOut) env = std::min(env, (total - k) / fadeOut);
        // Quiet and dark at first; it gains weight as the piece builds.
        const float swell = static_cast<float>(env * (0.7 + 0.6 * intensity) *
                                               (0.85 + 0.15 * std::sin(kTwoPi * 0.11 * t)));
        const float core = sub + main + fifth;
        const float air = 0.05f * wind.band * (1.0f - 0.8f * intensity);
        const float l = swell * (core + 0.5f * fl.low + air);
        const float r = swell * (core + 0.5f * fr.low - air);
        put(bus, i, l, r, {0.07f * n.velocity, 0.0f, 0.12f, false});
    }
}

void renderPad(const Note& n, const Score& sc, Bus& bus) {
    const double ts = sc.timeScale;
    const double attack = std::min(scaled(lerp(2.5, 0.35, n.bright), ts), 0.45 * n.length);
    const double release = scaled(lerp(2.5, 0.9, n.bright), ts);
    const Span s = spanOf(n, release, bus.frames);
    const double f = midiToHz(n.pitch) / kFs;
    double p1 = phaseFrom(n.seed, 1), p2 = phaseFrom(n.seed, 2), p3 = phaseFrom(n.seed, 3);
    const double lfo = kTwoPi * phaseFrom(n.seed, 4);
    const double cutoff = 260 + 3800 * std::pow(n.bright, 1.3);
    const Pan bal = balanceOf(n.pan);
    const float gain = 0.05f * n.velocity;
    Svf fl, fr;
    SvfCoef coef{};
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        if ((i - s.begin) % 32 == 0) {
            coef = svfCoef(cutoff * (1.0 + 0.2 * std::sin(kTwoPi * 0.23 * t + lfo)), 1.3);
        }
        const float a = saw(p1, f * 0.9961);
        const float b = saw(p2, f);
        const float c = saw(p3, f * 1.0039);
        svfTick(fl, coef, a + 0.6f * b);
        svfTick(fr, coef, c + 0.6f * b);
        const float g = gain * gateEnv(t, attack, n.length, release);
        put(bus, i, fl.low * g * bal.l, fr.low * g * bal.r, {1.0f, 0.04f, 0.5f, true});
    }
}

void renderBell(const Note& n, const Score& sc, Bus& bus) {
    const double ts = sc.timeScale;
    const double decay = std::min(std::max(scaled(lerp(1.2, 0.22, n.bright), ts), 0.6 * n.length),
                                  scaled(3.0, ts));
    const double duration = 5 * decay;
    const Span s = spanOf(n, duration - n.length, bus.frames);
    const double f = midiToHz(n.pitch) / kFs;
    // Early on an inharmonic ratio gives glassy bells; later a harmonic one
    // gives a rounder, more keyboard-like tone that sits with the chords.
    const double ratio = n.bright < 0.25 ? 3.5 : 2.0;
    const double depth = 1.0 + 2.5 * n.bright;
    const double indexDecay = 0.3 * decay + 0.01;
    const Pan pan = panOf(n.pan);
    const float gain = 0.11f * n.velocity;
    double pc = 0, pm = 0;
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        const double index = 0.3 + depth * std::exp(-t / indexDecay);
        const double mod = std::sin(kTwoPi * pm);
        const double y = std::sin(kTwoPi * pc + index * mod) + 0.15 * std::sin(2 * kTwoPi * pc);
        pc += f;
        pm += f * ratio;
        if (pc >= 1) pc -= 1;
        if (pm >= 1) pm -= 1;
        const double env = std::min(1.0, t / 0.002) * std::exp(-t / decay) *
                           std::max(0.0, 1.0 - t / duration);
        const float v = static_cast<float>(y * env) * gain;
        put(bus, i, v * pan.l, v * pan.r, {1.0f, 0.35f, 0.35f, false});
    }
}

void renderBass(const Note& n, const Score& sc, Bus& bus) {
    const double release = scaled(0.08, sc.timeScale);
    const Span s = spanOf(n, release, bus.frames);
    const double f = midiToHz(n.pitch) / kFs;
    const double filterDecay = scaled(0.12, sc.timeScale);
    const double sweep = (300 + 1400 * n.bright) * n.velocity;
    const float gain = 0.14f * n.velocity;
    double ps = phaseFrom(n.seed, 1), po = 0;
    Svf lp;
    SvfCoef coef{};
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        if ((i - s.begin) % 16 == 0) coef = svfCoef(110 + sweep * std::exp(-t / filterDecay), 0.9);
        svfTick(lp, coef, saw(ps, f));
        const float body = lp.low + 0.7f * sine(po, f);
        const float env = gateEnv(t, 0.004, n.length, release) *
                          static_cast<float>(0.8 + 0.2 * std::exp(-t / 0.2));
        const float v = body * env * gain * 0.7071f;
        put(bus, i, v, v, {1.0f, 0.0f, 0.04f, false});
    }
}

void renderLead(const Note& n, const Score& sc, Bus& bus) {
    const double ts = sc.timeScale;
    const double attack = scaled(0.05, ts);
    const double release = scaled(0.45, ts);
    const Span s = spanOf(n, release, bus.frames);
    const double f = midiToHz(n.pitch) / kFs;
    const double cutoff = 700 + 2800 * n.bright;
    const Pan pan = panOf(n.pan);
    const float gain = 0.09f * n.velocity;
    double p1 = phaseFrom(n.seed, 1), p2 = phaseFrom(n.seed, 2), p3 = 0;
    Svf lp;
    SvfCoef coef{};
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        // Vibrato creeps in once the note has settled, as a player would.
        const double depth = 0.12 * std::clamp((t - 0.3) / 0.5, 0.0, 1.0);
        const double bend = std::exp2(depth * std::sin(kTwoPi * 5.3 * t) / 12.0);
        if ((i - s.begin) % 16 == 0) coef = svfCoef(cutoff + 1800 * std::exp(-t / 0.25), 1.0);
        const float x = saw(p1, f * bend * 0.997) + saw(p2, f * bend * 1.003) +
                        0.5f * sine(p3, f * bend);
        svfTick(lp, coef, x);
        const float v = lp.low * gain * gateEnv(t, attack, n.length, release);
        put(bus, i, v * pan.l, v * pan.r, {1.0f, 0.28f, 0.4f, false});
    }
}

void renderKick(const Note& n, const Score&, Bus& bus) {
    const double decay = std::max(0.01, 0.35 * n.length);
    const Span s = spanOf(n, 7 * decay - n.length, bus.frames);
    Noise noise = noiseFrom(n.seed);
    const float gain = 0.4f * n.velocity * 0.7071f;
    double phase = 0;
    const double norm = 1.0 / std::tanh(1.6);
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        const double f = 44 + 120 * std::exp(-t / 0.03);
        const double body = std::sin(kTwoPi * phase) * std::exp(-t / decay);
        phase += f / kFs;
        if (phase >= 1) phase -= 1;
        const double click = 0.3 * white(noise) * std::exp(-t / 0.002);
        const float v = static_cast<float>(std::tanh(1.6 * (body + click)) * norm) * gain;
        put(bus, i, v, v, {1.0f, 0.0f, 0.02f, false});
    }
}

void renderSnare(const Note& n, const Score&, Bus& bus) {
    const double decay = std::max(0.01, 0.6 * n.length);
    const Span s = spanOf(n, 6 * decay - n.length, bus.frames);
    Noise noise = noiseFrom(n.seed);
    const SvfCoef coef = svfCoef(1400, 1.4);
    const Pan pan = panOf(n.pan);
    const float gain = 0.4f * n.velocity;
    Svf hp;
    double p1 = 0, p2 = 0;
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        const double tone = (sine(p1, 180 / kFs) + 0.5 * sine(p2, 330 / kFs)) *
                            0.6 * std::exp(-t / 0.04);
        svfTick(hp, coef, white(noise));
        const double y = tone + hp.high * std::exp(-t / decay);
        const float v = static_cast<float>(y) * gain;
        put(bus, i, v * pan.l, v * pan.r, {1.0f, 0.0f, 0.25f, false});
    }
}

void renderHat(const Note& n, const Score&, Bus& bus) {
    const double decay = n.voice == Voice::OpenHat ? 0.14 : 0.025;
    const Span s = spanOf(n, 6 * decay - n.length, bus.frames);
    Noise noise = noiseFrom(n.seed);
    const SvfCoef coef = svfCoef(7500, 1.2);
    const Pan pan = panOf(n.pan);
    const float gain = 0.3f * n.velocity;
    Svf hp;
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        svfTick(hp, coef, white(noise));
        const float v = hp.high * static_cast<float>(std::exp(-t / decay)) * gain;
        put(bus, i, v * pan.l, v * pan.r, {1.0f, 0.05f, 0.08f, false});
    }
}

void renderCrash(const Note& n, const Score&, Bus& bus) {
    const double decay = std::max(0.02, n.length / 3.5);
    const Span s = spanOf(n, 5 * decay - n.length, bus.frames);
    Noise nl = noiseFrom(n.seed), nr = noiseFrom(n.seed ^ 0x5bd1e995u);
    const SvfCoef coef = svfCoef(4000, 1.0);
    const Pan bal = balanceOf(n.pan);
    const float gain = 0.17f * n.velocity;
    Svf hl, hr;
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        svfTick(hl, coef, white(nl));
        svfTick(hr, coef, white(nr));
        const float env = static_cast<float>(std::min(1.0, t / 0.001) * std::exp(-t / decay)) * gain;
        put(bus, i, hl.high * env * bal.l, hr.high * env * bal.r, {1.0f, 0.0f, 0.3f, false});
    }
}

void renderRiser(const Note& n, const Score&, Bus& bus) {
    const double tail = 0.01;
    const Span s = spanOf(n, tail, bus.frames);
    Noise nl = noiseFrom(n.seed), nr = noiseFrom(n.seed ^ 0x27d4eb2du);
    const float gain = 0.1f * n.velocity;
    const double length = std::max(n.length, 1e-3);
    Svf bl, br;
    SvfCoef coef{};
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const double t = static_cast<double>(i - s.begin) / kFs;
        const double u = std::min(1.0, t / length);
        if ((i - s.begin) % 32 == 0) coef = svfCoef(200 * std::pow(50.0, u), 0.35);
        svfTick(bl, coef, white(nl));
        svfTick(br, coef, white(nr));
        double env = u * u;
        if (t > length) env *= std::max(0.0, 1.0 - (t - length) / tail);
        const Pan pan = panOf(static_cast<float>(0.5 * std::sin(kTwoPi * (3 * u + 4 * u * u))));
        const float v = static_cast<float>(env) * gain;
        put(bus, i, bl.band * v * pan.l * 1.4142f, br.band * v * pan.r * 1.4142f,
            {1.0f, 0.15f, 0.35f, false});
    }
}

double noteWork(const Note& n) { return std::max(n.length, 0.05) + 1.0; }

void renderNote(const Note& n, const Score& sc, Bus& bus) {
    switch (n.voice) {
        case Voice::Drone: renderDrone(n, sc, bus); break;
        case Voice::Pad: renderPad(n, sc, bus); break;
        case Voice::Bell: renderBell(n, sc, bus); break;
        case Voice::Bass: renderBass(n, sc, bus); break;
        case Voice::Lead: renderLead(n, sc, bus); break;
        case Voice::Kick: renderKick(n, sc, bus); break;
        case Voice::Snare: renderSnare(n, sc, bus); break;
        case Voice::Hat:
        case Voice::OpenHat: renderHat(n, sc, bus); break;
        case Voice::Crash: renderCrash(n, sc, bus); break;
        case Voice::Riser: renderRiser(n, sc, bus); break;
    }
}

// Each kick briefly pulls the pad down, deeper as the piece intensifies.
std::vector<float> duckEnvelope(const Score& sc, std::size_t frames) {
    std::vector<float> duck(frames, 1.0f);
    for (const Note& n : sc.notes) {
        if (n.voice != Voice::Kick) continue;
        const double depth = 0.2 + 0.35 * n.bright;
        const Span s = spanOf(n, 0.4 - n.length, frames);
        for (std::size_t i = s.begin; i < s.end; ++i) {
            const double x = static_cast<double>(i - s.begin) / kFs;
            const double shape = x < 0.005 ? x / 0.005 : std::exp(-(x - 0.005) / 0.09);
            duck[i] = std::min(duck[i], static_cast<float>(1.0 - depth * shape));
        }
    }
    return duck;
}

struct Line {
    std::vector<float> buf;
    std::size_t pos = 0;
};

Line lineOf(std::size_t length) { return Line{std::vector<float>(std::max<std::size_t>(length, 1), 0.0f), 0}; }

// Reads the sample written `length` samples ago and stores x in its place.
float lineTick(Line& line, float x) {
    const float y = line.buf[line.pos];
    line.buf[line.pos] = x;
    if (++line.pos == line.buf.size()) line.pos = 0;
    return y;
}

// Ping-pong: echoes alternate left and right, each a little darker.
void pingPong(const std::vector<float>& send, std::vector<float>& outL, std::vector<float>& outR) {
    Line l = lineOf(static_cast<std::size_t>(0.34 * kFs));
    Line r = lineOf(static_cast<std::size_t>(0.51 * kFs));
    const float feedback = 0.42f;
    const float damp = 0.35f;
    float lpL = 0, lpR = 0;
    for (std::size_t i = 0; i < send.size(); ++i) {
        const float yl = l.buf[l.pos];
        const float yr = r.buf[r.pos];
        lpL += (1 - damp) * (yl - lpL);
        lpR += (1 - damp) * (yr - lpR);
        lineTick(l, send[i] + feedback * lpR);
        lineTick(r, lpL);
        outL[i] = yl;
        outR[i] = yr;
    }
}

// A Schroeder-Moorer reverb: parallel damped combs, then allpasses; the
// right channel's delays are slightly longer for width.
struct Comb {
    Line line;
    float store = 0;
};

float combTick(Comb& c, float x, float feedback, float damp) {
    const float y = c.line.buf[c.line.pos];
    c.store = y * (1 - damp) + c.store * damp;
    if (std::fabs(c.store) < 1e-20f) c.store = 0;  // keep denormals out
    lineTick(c.line, x + c.store * feedback);
    return y;
}

float allpassTick(Line& a, float x) {
    const float b = a.buf[a.pos];
    lineTick(a, x + b * 0.5f);
    return b - x;
}

void reverb(const std::vector<float>& in, std::vector<float>& outL, std::vector<float>& outR) {
    const int combs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    const int allpasses[4] = {556, 441, 341, 225};
    const int spread = 23;
    std::vector<Comb> cl, cr;
    std::vector<Line> al, ar;
    for (int c : combs) {
        cl.push_back(Comb{lineOf(static_cast<std::size_t>(c)), 0});
        cr.push_back(Comb{lineOf(static_cast<std::size_t>(c + spread)), 0});
    }
    for (int a : allpasses) {
        al.push_back(lineOf(static_cast<std::size_t>(a)));
        ar.push_back(lineOf(static_cast<std::size_t>(a + spread)));
    }
    const float feedback = 0.88f, damp = 0.25f, inputGain = 0.015f;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const float x = in[i] * inputGain;
        float l = 0, r = 0;
        for (std::size_t k = 0; k < 8; ++k) {
            l += combTick(cl[k], x, feedback, damp);
            r += combTick(cr[k], x, feedback, damp);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            l = allpassTick(al[k], l);
            r = allpassTick(ar[k], r);
        }
        outL[i] = l;
        outR[i] = r;
    }
}

float softLimit(float x) {
    // Linear up to the knee, then a tanh shoulder that never reaches 1.
    const float knee = 0.7f;
    const float a = std::fabs(x);
    if (a <= knee) return x;
    const float y = knee + (1 - knee) * std::tanh((a - knee) / (1 - knee));
    return x < 0 ? -y : y;
}

void mixBuses(const Score& sc, Bus& bus, Stereo& out, const Progress& progress) {
    const std::size_t n = bus.frames;
    if (progress) progress("mixing", 0.0);
    const std::vector<float> duck = duckEnvelope(sc, n);

    std::vector<float> delayL(n), delayR(n);
    pingPong(bus.delaySend, delayL, delayR);
    for (std::size_t i = 0; i < n; ++i) bus.reverbSend[i] += 0.3f * (delayL[i] + delayR[i]);
    if (progress) progress("mixing", 0.3);

    std::vector<float> revL(n), revR(n);
    reverb(bus.reverbSend, revL, revR);
    if (progress) progress("mixing", 0.8);

    out.left.assign(n, 0.0f);
    out.right.assign(n, 0.0f);
    // A first-order high-pass at 20 Hz keeps DC and rumble out.
    const float hpCoef = static_cast<float>(1.0 - kTwoPi * 20.0 / kFs);
    float xl = 0, yl = 0, xr = 0, yr = 0;
    const float wet = 1.6f;
    for (std::size_t i = 0; i < n; ++i) {
        const float l = bus.dryL[i] + bus.padL[i] * duck[i] + 0.6f * delayL[i] + wet * revL[i];
        const float r = bus.dryR[i] + bus.padR[i] * duck[i] + 0.6f * delayR[i] + wet * revR[i];
        yl = l - xl + hpCoef * yl;
        xl = l;
        yr = r - xr + hpCoef * yr;
        xr = r;
        out.left[i] = yl;
        out.right[i] = yr;
    }

    if (progress) progress("mixing", 1.0);
}

void finish(Stereo& out, double timeScale) {
    const std::size_t n = out.left.size();
    // Level: bring the loudest peak up to the limiter's shoulder so only
    // the biggest hits are rounded off, then settle at -1 dBFS.
    float peak = 0;
    for (std::size_t i = 0; i < n; ++i) {
        peak = std::max(peak, std::max(std::fabs(out.left[i]), std::fabs(out.right[i])));
    }
    if (peak > 0) {
        const float drive = 1.25f / peak;
        const float trim = 0.891f / softLimit(1.25f);
        for (std::size_t i = 0; i < n; ++i) {
            out.left[i] = softLimit(out.left[i] * drive) * trim;
            out.right[i] = softLimit(out.right[i] * drive) * trim;
        }
    }

    // Fades: a few milliseconds in (the drone already swells from nothing)
    // and a short cosine out, so the end meets the start in silence.
    const std::size_t fadeIn = std::min(n, static_cast<std::size_t>(0.01 * kFs));
    for (std::size_t i = 0; i < fadeIn; ++i) {
        const float g = static_cast<float>(i) / static_cast<float>(fadeIn);
        out.left[i] *= g;
        out.right[i] *= g;
    }
    const std::size_t fadeOut = std::min(n, static_cast<std::size_t>(4.0 * timeScale * kFs));
    for (std::size_t k = 0; k < fadeOut; ++k) {
        const std::size_t i = n - fadeOut + k;
        const double x = static_cast<double>(k + 1) / static_cast<double>(fadeOut);
        const float g = static_cast<float>(0.5 + 0.5 * std::cos(kPi * x));
        out.left[i] *= g;
        out.right[i] *= g;
    }
}

}  // namespace

Stereo renderScore(const Score& score, const Progress& progress) {
    Bus bus;
    bus.frames = static_cast<std::size_t>(std::llround(score.seconds * kFs));
    for (std::vector<float>* v : {&bus.dryL, &bus.dryR, &bus.padL, &bus.padR,
                                  &bus.delaySend, &bus.reverbSend}) {
        v->assign(bus.frames, 0.0f);
    }

    double total = 0;
    for (const Note& n : score.notes) total += noteWork(n);
    double done = 0;
    double reported = -1;
    for (const Note& n : score.notes) {
        renderNote(n, score, bus);
        done += noteWork(n);
        if (progress && done / total - reported >= 0.01) {
            reported = done / total;
            progress("synthesising", reported);
        }
    }

    Stereo out;
    mixBuses(score, bus, out, progress);
    finish(out, score.timeScale);
    return out;
}

}  // namespace soundtrack

#include "score.h"

#include <algorithm>
#include <cmath>

namespace soundtrack {
namespace {

// Tempo climbs linearly from kStartBpm to kTopBpm over the first
// kTopSeconds, then holds. Beat positions therefore grow with the square of
// time, like the picture's sweep.
constexpr double kStartBpm = 52.0;
constexpr double kTopBpm = 132.0;
constexpr double kTopSeconds = 126.0;

// Every chord lasts eight beats, so harmony moves faster as the tempo rises.
constexpr int kBeatsPerChord = 8;
constexpr int kChordCount = 25;               // chord 24 is the climax
constexpr double kClimaxBeat = 24 * kBeatsPerChord;  // ~125.5 s
constexpr double kFinalBeat = kClimaxBeat + kBeatsPerChord;  // ~129 s

constexpr std::uint32_t kSeed = 0x746f6c6du;

// A chord: the bass root and a four-voice pad voicing kept close together
// so that the pad moves smoothly from chord to chord (all in D minor).
struct Chord {
    int root;
    int tones[4];
};

const Chord kDm{38, {50, 57, 62, 65}};
const Chord kBb{34, {50, 58, 62, 65}};
const Chord kF{41, {48, 57, 60, 65}};
const Chord kC{36, {48, 55, 60, 64}};
const Chord kGm{43, {50, 58, 62, 67}};
const Chord kA{45, {49, 57, 61, 64}};
const Chord kAsus{45, {50, 57, 62, 64}};

// i VI III VII / i VI iv V twice; the third time round the second half
// leans on the dominant (suspended, then major) to pull into the climax.
const Chord* const kProgression[kChordCount] = {
    &kDm, &kBb, &kF, &kC, &kDm, &kBb, &kGm, &kA,
    &kDm, &kBb, &kF, &kC, &kDm, &kBb, &kGm, &kA,
    &kDm, &kBb, &kF, &kC, &kGm, &kBb, &kAsus, &kA,
    &kDm,
};

// The melody, entering halfway: beat offsets within a chord, in beats.
struct MelodyNote {
    int chord;
    double beat;
    double length;
    int pitch;
};

const MelodyNote kMelody[] = {
    {12, 0, 3, 69}, {12, 3, 1, 65}, {12, 4, 2, 67}, {12, 6, 2, 69},
    {13, 0, 3, 70}, {13, 3, 1, 69}, {13, 4, 4, 65},
    {14, 0, 2, 67}, {14, 2, 2, 70}, {14, 4, 4, 74},
    {15, 0, 4, 73}, {15, 4, 2, 76}, {15, 6, 2, 73},
    {16, 0, 3, 74}, {16, 3, 1, 72}, {16, 4, 4, 69},
    {17, 0, 3, 77}, {17, 3, 1, 76}, {17, 4, 4, 74},
    {18, 0, 2, 72}, {18, 2, 2, 69}, {18, 4, 2, 72}, {18, 6, 2, 77},
    {19, 0, 4, 76}, {19, 4, 2, 79}, {19, 6, 2, 76},
    {20, 0, 2, 74}, {20, 2, 2, 79}, {20, 4, 4, 82},
    {21, 0, 2, 81}, {21, 2, 2, 77}, {21, 4, 2, 74}, {21, 6, 2, 77},
    {22, 0, 2, 76}, {22, 2, 2, 79}, {22, 4, 4, 81},
    {23, 0, 4, 81}, {23, 4, 4, 85},
    {24, 0, 8, 86},
};

// Arpeggio notes per beat for each chord: none at first, single droplets,
// then ever denser until sixteenths from the third cycle on.
const double kArpRate[kChordCount] = {
    0, 0.25, 0.5, 0.5, 0.5, 0.5, 1, 1,
    1, 1, 2, 2, 2, 2, 2, 2,
    4, 4, 4, 4, 4, 4, 4, 4,
    4,
};

std::uint32_t mix32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

struct Rng {
    std::uint32_t state;
};

double uniform(Rng& rng) {  // [0, 1)
    rng.state = mix32(rng.state + 0x9e3779b9u);
    return (rng.state >> 8) * (1.0 / 16777216.0);
}

struct Composer {
    std::vector<Note> notes;
    Rng rng{kSeed};
};

void addAt(Composer& c, Voice voice, double start, double length,
           double pitch, double velocity, double pan) {
    Note n{};
    n.voice = voice;
    n.start = std::max(0.0, start);
    n.length = length;
    n.pitch = pitch;
    n.velocity = static_cast<float>(std::clamp(velocity, 0.0, 1.0));
    n.pan = static_cast<float>(std::clamp(pan, -1.0, 1.0));
    n.bright = static_cast<float>(intensityAt(start));
    n.seed = mix32(kSeed ^ static_cast<std::uint32_t>(c.notes.size() * 2654435761u));
    c.notes.push_back(n);
}

void addBeats(Composer& c, Voice voice, double beat, double beats,
              double pitch, double velocity, double pan) {
    const double start = timeOfBeat(beat);
    addAt(c, voice, start, timeOfBeat(beat + beats) - start, pitch, velocity,
          pan);
}

// The pitches of a chord's tones between lo and hi, ascending.
std::vector<int> chordTonesInRange(const Chord& chord, int lo, int hi) {
    std::vector<int> out;
    for (int p = lo; p <= hi; ++p) {
        for (int tone : chord.tones) {
            if ((p - tone) % 12 == 0) {
                out.push_back(p);
                break;
            }
        }
    }
    return out;
}

void composeDrone(Composer& c) {
    addAt(c, Voice::Drone, 0, kFormSeconds, 26, 1.0, 0);  // D1
}

void composePad(Composer& c) {
    const double pans[4] = {-0.45, 0.45, -0.15, 0.15};
    for (int ci = 0; ci < kChordCount; ++ci) {
        const Chord& chord = *kProgression[ci];
        const double beat = ci * kBeatsPerChord;
        // Only root and fifth for the first two chords: an open, dark start.
        const int voices = ci < 2 ? 2 : 4;
        const double level = 0.45 + 0.5 * intensityAt(timeOfBeat(beat));
        for (int v = 0; v < voices; ++v) {
            addBeats(c, Voice::Pad, beat, kBeatsPerChord + 0.25,
                     chord.tones[v], level, pans[v]);
        }
    }
    // Final hit: the tonic spread wide, left to ring out into the fade.
    const double end = timeOfBeat(kFinalBeat);
    const int finalTones[] = {38, 50, 57, 62, 65, 69};
    for (int i = 0; i < 6; ++i) {
        addAt(c, Voice::Pad, end, 2.5, finalTones[i], 0.9, (i % 2 ? 0.4 : -0.4));
    }
}

void composeArpeggio(Composer& c) {
    for (int ci = 0; ci < kChordCount; ++ci) {
        const double rate = kArpRate[ci];
        if (rate <= 0) continue;
        const Chord& chord = *kProgression[ci];
        const int count = static_cast<int>(kBeatsPerChord * rate);
        if (ci < 6) {
            // Sparse droplets high up, chosen freely among the chord tones.
            const std::vector<int> tones = chordTonesInRange(chord, 69, 93);
            for (int n = 0; n < count; ++n) {
                const int pick = static_cast<int>(uniform(c.rng) * tones.size());
                const double beat = ci * kBeatsPerChord + n / rate +
                                    0.12 * uniform(c.rng);
                addBeats(c, Voice::Bell, beat, 1.0 / rate, tones[pick],
                         0.45 + 0.25 * uniform(c.rng), uniform(c.rng) * 1.2 - 0.6);
            }
            continue;
        }
        const bool climax = ci == kChordCount - 1;
        const std::vector<int> tones =
            chordTonesInRange(chord, climax ? 67 : 62, climax ? 91 : 86);
        const int m = static_cast<int>(tones.size());
        for (int n = 0; n < count; ++n) {
            int idx;
            if (rate >= 4) {
                // Broken thirds climbing: 0 2 1 3 2 4 3 5.
                idx = (n % 8) / 2 + (n % 2) * 2;
            } else {
                const int period = 2 * (m - 1);
                const int i = n % period;
                idx = i < m ? i : period - i;
            }
            idx = std::min(idx, m - 1);
            const bool onBeat = std::fmod(n / rate, 1.0) == 0.0;
            const double vel = (onBeat ? 0.8 : 0.55) + 0.08 * uniform(c.rng);
            addBeats(c, Voice::Bell, ci * kBeatsPerChord + n / rate, 1.0 / rate,
                     tones[idx], vel, (n % 2 ? 0.35 : -0.35));
        }
    }
    // A last sparkle on the final hit.
    const double end = timeOfBeat(kFinalBeat);
    const int sparkle[] = {86, 81, 77, 74};
    for (int i = 0; i < 4; ++i) {
        addAt(c, Voice::Bell, end + 0.09 * i, 0.5, sparkle[i], 0.8 - 0.1 * i,
              (i % 2 ? 0.5 : -0.5));
    }
}

void composeBass(Composer& c) {
    for (int ci = 8; ci < kChordCount; ++ci) {
        const Chord& chord = *kProgression[ci];
        const double base = ci * kBeatsPerChord;
        if (ci < 12) {
            addBeats(c, Voice::Bass, base, 3.6, chord.root, 0.6, 0);
            addBeats(c, Voice::Bass, base + 4, 3.6, chord.root, 0.55, 0);
        } else if (ci < 16) {
            for (int b = 0; b < kBeatsPerChord; ++b) {
                addBeats(c, Voice::Bass, base + b, 0.8, chord.root,
                         b % 4 == 0 ? 0.8 : 0.65, 0);
            }
        } else if (ci == 23) {
            // The breakdown before the climax: one long dominant note.
            addBeats(c, Voice::Bass, base, 8, chord.root - 12, 0.8, 0);
        } else {
            for (int e = 0; e < 2 * kBeatsPerChord; ++e) {
                addBeats(c, Voice::Bass, base + 0.5 * e, 0.45,
                         chord.root + (e % 2 ? 12 : 0), e % 2 ? 0.6 : 0.85, 0);
            }
        }
    }
    addAt(c, Voice::Bass, timeOfBeat(kFinalBeat), 2.0, 26 + 12, 0.9, 0);
}

void composeLead(Composer& c) {
    for (const MelodyNote& m : kMelody) {
        addBeats(c, Voice::Lead, m.chord * kBeatsPerChord + m.beat,
                 m.length * 0.95, m.pitch, 0.6 + 0.3 * intensityAt(timeOfBeat(m.chord * kBeatsPerChord)),
                 0.1);
    }
    addAt(c, Voice::Lead, timeOfBeat(kFinalBeat), 2.2, 74, 0.7, 0.1);
}

void composeDrums(Composer& c) {
    for (int ci = 10; ci < kChordCount; ++ci) {
        const double base = ci * kBeatsPerChord;
        // Kick: a heartbeat on every other beat when it enters at the
        // middle, then every beat; it drops out for the breakdown.
        if (ci < 12) {
            for (int b = 0; b < kBeatsPerChord; b += 2) {
                addBeats(c, Voice::Kick, base + b, 0.5, 0, 0.7, 0);
            }
        } else if (ci != 23) {
            for (int b = 0; b < kBeatsPerChord; ++b) {
                addBeats(c, Voice::Kick, base + b, 0.5, 0, ci == 24 ? 1.0 : 0.9, 0);
            }
        }
        // Hats: offbeats first, then sixteenths with open hats late.
        if (ci >= 14 && ci < 16) {
            for (int b = 0; b < kBeatsPerChord; ++b) {
                addBeats(c, Voice::Hat, base + b + 0.5, 0.25, 0, 0.5, 0.35);
            }
        } else if (ci >= 16) {
            const double accent[4] = {0.55, 0.25, 0.45, 0.25};
            for (int s = 0; s < 4 * kBeatsPerChord; ++s) {
                const bool open = ci >= 20 && s % 4 == 2;
                addBeats(c, open ? Voice::OpenHat : Voice::Hat, base + 0.25 * s,
                         0.25, 0, open ? 0.5 : accent[s % 4], 0.35);
            }
        }
        // Snare on the backbeat; a roll speeding up through the breakdown.
        if (ci >= 16 && ci != 23) {
            for (int b = 1; b < kBeatsPerChord; b += 2) {
                addBeats(c, Voice::Snare, base + b, 0.25, 0, 0.8, 0.05);
            }
        } else if (ci == 23) {
            double off = 0;
            while (off < kBeatsPerChord - 1e-9) {
                const double step = off < 4 ? 0.5 : (off < 7 ? 0.25 : 0.125);
                const double vel = 0.25 + 0.75 * std::pow(off / kBeatsPerChord, 1.5);
                addBeats(c, Voice::Snare, base + off, 0.25, 0, vel, 0.05);
                off += step;
            }
        }
    }
    const double end = timeOfBeat(kFinalBeat);
    addAt(c, Voice::Kick, end, 1.2, 0, 1.0, 0);  // long boom
    addAt(c, Voice::Crash, timeOfBeat(16 * kBeatsPerChord), 3.0, 0, 0.7, -0.2);
    addAt(c, Voice::Crash, timeOfBeat(kClimaxBeat), 3.0, 0, 0.9, -0.2);
    addAt(c, Voice::Crash, end, 4.0, 0, 1.0, 0.2);
    const double riseStart = timeOfBeat(20 * kBeatsPerChord);
    addAt(c, Voice::Riser, riseStart, timeOfBeat(kClimaxBeat) - riseStart, 0,
          0.9, 0);
}

}  // namespace

double beatsAt(double s) {
    if (s <= kTopSeconds) {
        return (kStartBpm * s + (kTopBpm - kStartBpm) * s * s / (2 * kTopSeconds)) / 60.0;
    }
    return beatsAt(kTopSeconds) + kTopBpm * (s - kTopSeconds) / 60.0;
}

double timeOfBeat(double beat) {
    const double topBeat = beatsAt(kTopSeconds);
    if (beat > topBeat) return kTopSeconds + (beat - topBeat) * 60.0 / kTopBpm;
    const double a = (kTopBpm - kStartBpm) / (120.0 * kTopSeconds);
    const double b = kStartBpm / 60.0;
    return (-b + std::sqrt(b * b + 4 * a * beat)) / (2 * a);
}

double intensityAt(double s) {
    const double x = std::clamp(s / timeOfBeat(kClimaxBeat), 0.0, 1.0);
    return std::pow(x, 1.5);
}

Score composeScore(double seconds) {
    Composer c;
    composeDrone(c);
    composePad(c);
    composeArpeggio(c);
    composeBass(c);
    composeLead(c);
    composeDrums(c);

    Score score;
    score.seconds = seconds;
    score.timeScale = seconds / kFormSeconds;
    score.notes = std::move(c.notes);
    for (Note& n : score.notes) {
        n.start *= score.timeScale;
        n.length *= score.timeScale;
    }
    std::stable_sort(score.notes.begin(), score.notes.end(),
                     [](const Note& a, const Note& b) { return a.start < b.start; });
    return score;
}

}  // namespace soundtrack

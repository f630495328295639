// The composition: which notes sound when, in what voice.
//
// The piece is written for a fixed form length (kFormSeconds) and then
// stretched or squeezed to the requested length, so that a short render
// still has the whole arc: dark start, rising pace, climax, fade.
#pragma once

#include <cstdint>
#include <vector>

namespace soundtrack {

// Length of the piece as composed; the default output length.
constexpr double kFormSeconds = 135.0;

enum class Voice : std::uint8_t {
    Drone,  // one note for the whole piece: low pedal on the tonic
    Pad,    // held chord tones
    Bell,   // the arpeggio: short FM bell tones
    Bass,
    Lead,   // the melody over the second half
    Kick,
    Snare,
    Hat,    // closed hat; OpenHat rings longer
    OpenHat,
    Crash,
    Riser,  // filtered noise sweep into the climax
};

struct Note {
    Voice voice;
    double start;     // seconds from the start of the output
    double length;    // seconds the note is held (the release comes after)
    double pitch;     // MIDI note number; unused by the unpitched voices
    float velocity;   // 0..1
    float pan;        // -1 (left) .. +1 (right)
    float bright;     // 0..1: how open the filters are, follows the arc
    std::uint32_t seed;  // for noise and phases; fixed per note
};

struct Score {
    double seconds = 0;       // output length
    double timeScale = 1;     // seconds / kFormSeconds
    std::vector<Note> notes;  // sorted by start time
};

// The tempo rises steadily with time, so beats come ever closer together,
// as the picture's sweep does. These map between form seconds and beats.
double beatsAt(double formSeconds);
double timeOfBeat(double beat);

// Overall intensity of the arc at a form time, 0 at the start, 1 at the
// climax; drives filter brightness and levels.
double intensityAt(double formSeconds);

// Composes the piece stretched to `seconds` of output.
Score composeScore(double seconds);

}  // namespace soundtrack

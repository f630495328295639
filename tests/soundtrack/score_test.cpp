// The composition's shape, checked on the score itself: the tempo map, the
// growth in density toward the climax, and that any length keeps the arc.

#include <gtest/gtest.h>

#include <cmath>

#include "score.h"

namespace {

using soundtrack::Note;
using soundtrack::Score;
using soundtrack::Voice;

TEST(SoundtrackScore, TempoRisesAndTheBeatMapInverts) {
    for (double s = 0; s <= soundtrack::kFormSeconds; s += 0.5) {
        EXPECT_NEAR(soundtrack::timeOfBeat(soundtrack::beatsAt(s)), s, 1e-9) << s;
    }
    auto beatLength = [](double s) {
        const double b = soundtrack::beatsAt(s);
        return soundtrack::timeOfBeat(b + 1) - soundtrack::timeOfBeat(b);
    };
    EXPECT_NEAR(60 / beatLength(0), 52, 1);  // slow start
    double previous = beatLength(0);
    for (double s = 10; s <= 120; s += 10) {
        EXPECT_LT(beatLength(s), previous) << "the tempo must keep rising at " << s;
        previous = beatLength(s);
    }
    EXPECT_GT(60 / beatLength(125), 125);
}

TEST(SoundtrackScore, DensityAndIntensityRiseTowardTheClimax) {
    const Score score = soundtrack::composeScore(soundtrack::kFormSeconds);
    int perQuarter[4] = {};
    int drones = 0;
    for (const Note& n : score.notes) {
        ASSERT_GE(n.start, 0);
        if (n.voice == Voice::Drone) {
            ++drones;  // spans the piece and fades itself
            continue;
        }
        ASSERT_LT(n.start + n.length, soundtrack::kFormSeconds - 1) << "no room to fade";
        ++perQuarter[std::min(3, static_cast<int>(n.start / (soundtrack::kFormSeconds / 4)))];
    }
    EXPECT_EQ(drones, 1);
    for (int q = 1; q < 4; ++q) {
        EXPECT_GT(perQuarter[q], 1.5 * perQuarter[q - 1]) << "quarter " << q;
    }
    // The pulse only enters around the middle.
    double firstKick = 1e9;
    for (const Note& n : score.notes)
        if (n.voice == Voice::Kick) firstKick = std::min(firstKick, n.start);
    EXPECT_GT(firstKick, 55);
    EXPECT_LT(firstKick, 80);
    EXPECT_DOUBLE_EQ(soundtrack::intensityAt(0), 0);
    EXPECT_DOUBLE_EQ(soundtrack::intensityAt(127), 1);
}

TEST(SoundtrackScore, AnyLengthKeepsTheWholeArc) {
    const Score full = soundtrack::composeScore(soundtrack::kFormSeconds);
    const Score short5 = soundtrack::composeScore(27);
    ASSERT_EQ(full.notes.size(), short5.notes.size());
    for (std::size_t i = 0; i < full.notes.size(); ++i) {
        const Note& a = full.notes[i];
        const Note& b = short5.notes[i];
        EXPECT_NEAR(b.start, a.start * 0.2, 1e-9);
        EXPECT_NEAR(b.length, a.length * 0.2, 1e-9);
        EXPECT_EQ(a.pitch, b.pitch);
        EXPECT_EQ(a.voice, b.voice);
        if (HasFailure()) break;
    }
}

}  // namespace

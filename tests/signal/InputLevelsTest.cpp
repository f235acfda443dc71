// When the inputs' levels name the input that carries the sound: over 30 dB
// apart, and only when that input is not the one measured already.
#include "signal/SoundDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace audimera {

namespace {

TEST(InputLevelsTest, NotesOnlyAnInputOver30DbLouderThatIsNotMeasuredAlone)
{
    struct Row {
        double leftGain, rightGain; // of a full-scale sine on each input
        RecordChannel channel;
        const char* note;
    };
    for (const Row& row : {
             Row{1.0, 1.0, RecordChannel::Mix, ""},
             Row{1.0, std::pow(10.0, -29.9 / 20), RecordChannel::Mix, ""},
             Row{1.0, std::pow(10.0, -30.1 / 20), RecordChannel::Mix,
                 "The sound is on the left input; the right one is 30 dB quieter: choose Settings > Record "
                 "Channel > Left"},
             Row{std::pow(10.0, -47.0 / 20), 1.0, RecordChannel::Left,
                 "The sound is on the right input; the left one is 47 dB quieter: choose Settings > Record "
                 "Channel > Right"},
             Row{0.0, 0.5, RecordChannel::Mix,
                 "The sound is on the right input; the left one is silent: choose Settings > Record Channel > Right"},
             Row{0.0, 0.5, RecordChannel::Right, ""},
             Row{0.0, 0.0, RecordChannel::Mix, ""},
         }) {
        constexpr std::size_t Frames = 4410;
        std::vector<float> stereo(2 * Frames);
        for (std::size_t i = 0; i < Frames; ++i) {
            const double x = std::sin(2 * M_PI * 1000.0 * double(i) / 44100.0);
            stereo[2 * i] = float(row.leftGain * x);
            stereo[2 * i + 1] = float(row.rightGain * x);
        }
        const InputLevels levels = InputLevels::measure(stereo.data(), Frames);
        EXPECT_EQ(levels.note(row.channel), row.note) << row.leftGain << ' ' << row.rightGain;
        if (row.leftGain == 1.0) {
            EXPECT_NEAR(levels.leftDb, -3.01, 0.01);
        }
    }
}

} // namespace

} // namespace audimera

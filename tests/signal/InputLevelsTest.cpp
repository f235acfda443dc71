// The note names the input carrying the sound: over 30 dB louder, and not measured alone already.
#include "devices/SoundDevice.h"

#include <gtest/gtest.h>
#include <cmath>
#include <vector>

namespace audimera {

TEST(InputLevelsTest, NotesOnlyAnInputOver30DbLouderThatIsNotMeasuredAlone)
{
    const std::string Left = "The sound is on the left input; the right one is 30 dB quieter: choose Settings > "
                             "Record Channel > Left";
    const std::string Right = "The sound is on the right input; the left one is silent: choose Settings > Record "
                              "Channel > Right";
    struct Row { double leftDb, rightDb; RecordChannel channel; std::string note; }; // -999: silent
    for (const Row& row : {Row{0, 0, RecordChannel::Mix, ""}, Row{0, -29.9, RecordChannel::Mix, ""},
                           Row{0, -30.1, RecordChannel::Mix, Left}, Row{0, -30.1, RecordChannel::Left, ""},
                           Row{-999, -6, RecordChannel::Left, Right}, Row{-999, -6, RecordChannel::Right, ""},
                           Row{-999, -999, RecordChannel::Mix, ""}}) {
        std::vector<float> stereo(2 * 4410);
        for (std::size_t i = 0; i < stereo.size(); ++i)
            stereo[i] =
                float(std::pow(10.0, (i % 2 ? row.rightDb : row.leftDb) / 20) * std::sin(0.1425 * double(i / 2)));
        EXPECT_EQ(InputLevels::measure(stereo.data(), 4410).note(row.channel), row.note)
            << row.leftDb << ' ' << row.rightDb;
    }
}

} // namespace audimera

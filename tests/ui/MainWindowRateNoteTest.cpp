// The status bar's note on the devices' rates: shown while a device in use
// runs at another rate than 44100 Hz, and kept up to date as devices are
// picked.
#include "tests/ui/MainWindowFixture.h"

namespace audimera {

namespace {

// A simulated card whose devices run at the rates their entries say.
class RatedCard : public LoggingSoundCard {
public:
    RatedCard(std::vector<SoundDeviceInfo> play, std::vector<SoundDeviceInfo> record)
        : LoggingSoundCard(play, record), m_play(std::move(play)), m_record(std::move(record))
    {
    }
    int outputDeviceRate() const override { return outputDevice() < 0 ? 0 : m_play[size_t(outputDevice())].rate; }
    int inputDeviceRate() const override { return inputDevice() < 0 ? 0 : m_record[size_t(inputDevice())].rate; }

private:
    std::vector<SoundDeviceInfo> m_play;
    std::vector<SoundDeviceInfo> m_record;
};

class MainWindowRateNote : public MainWindowTest {};

} // namespace

TEST_F(MainWindowRateNote, SaysWhichDeviceRunsAtAnotherRateAndThatItIsConverted)
{
    start(std::make_unique<RatedCard>(
        std::vector<SoundDeviceInfo>{{"out", "Speakers", {}, 44100}, {"out48", "HDMI", {}, 48000}},
        std::vector<SoundDeviceInfo>{{"in", "Line in", {}, 44100}, {"in96", "USB microphone", {}, 96000}}));
    EXPECT_EQ(labelText("DeviceRateNote"), "");

    trigger("MenuEntryOutDevice(1)");
    EXPECT_EQ(labelText("DeviceRateNote"),
              "The play device runs at 48000 Hz: Audimera converts its output to that rate");
    trigger("MenuEntryInDevice(1)");
    EXPECT_EQ(labelText("DeviceRateNote"),
              "The play device runs at 48000 Hz and the record device at 96000 Hz: Audimera converts to and from "
              "44100 Hz");
    trigger("MenuEntryOutDevice(0)");
    EXPECT_EQ(labelText("DeviceRateNote"), "The record device runs at 96000 Hz: Audimera converts it to 44100 Hz");
    trigger("MenuEntryInDevice(0)");
    EXPECT_EQ(labelText("DeviceRateNote"), "");
}

} // namespace audimera

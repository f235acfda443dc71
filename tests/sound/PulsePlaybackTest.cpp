// Playing through the real sound server: each test plays into a null sink of
// its own and records that sink's monitor, so what is checked is what left
// the program as the server received it.
#include "tests/sound/PulseTestSupport.h"

namespace audimera {

using namespace pulsetest;

namespace {

class PulsePlayback : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_PULSE_SERVER();
        m_sink = std::make_unique<PrivateSink>(sharedServer(), "play");
        m_device = std::make_unique<PulseSoundDevice>(sharedServer());
        ASSERT_EQ(openLoopback(*m_device, m_sink->name(), channels()), "");
    }
    void TearDown() override
    {
        m_device.reset();
        m_sink.reset();
    }
    virtual int channels() const { return 1; }

    // Records one block (RecordSamples samples) into m_block.
    void record()
    {
        TestWaiter waiter;
        ASSERT_EQ(m_device->RecordBlock(m_block.data(), waiter), Recorded::Complete);
    }
    // Plays frequency from a fresh PlayLoop and waits as a sweep does.
    void play(const Tone& tone)
    {
        ASSERT_EQ(m_device->PlayLoop(tone.table.data(), tone.rate).message(), "");
        sleepMs(200);
    }

    std::unique_ptr<PrivateSink> m_sink;
    std::unique_ptr<PulseSoundDevice> m_device;
    std::vector<int16_t> m_block = std::vector<int16_t>(SoundDevice::RecordSamples + 1, 0);
};

class PulseBalance : public PulsePlayback {
protected:
    int channels() const override { return 2; }
    static constexpr int Frames = SoundDevice::RecordSamples / 2;
};

} // namespace

TEST_F(PulsePlayback, ToneComesBackAtItsFrequencyAndLevel)
{
    for (double frequency : {440.0, 1000.0}) {
        SCOPED_TRACE(frequency);
        const Tone tone(frequency);
        play(tone);
        record();
        // The table's peak is SinePeak; the server mixes the two equal
        // channels down to the mono record stream without changing the level.
        EXPECT_NEAR(dB(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, frequency) / SinePeak), 0.0, 0.05);
        // A clean tone at that very frequency: nothing a little off it (over
        // the whole block, 1.5 Hz resolution), nothing at the octave.
        const int n = SoundDevice::RecordSamples;
        EXPECT_LT(toneAmplitude(m_block.data(), n, frequency * 0.98), SinePeak * 1e-2);
        EXPECT_LT(toneAmplitude(m_block.data(), n, frequency * 1.02), SinePeak * 1e-2);
        EXPECT_LT(toneAmplitude(m_block.data(), n, 2 * frequency), SinePeak * 1e-3);
        EXPECT_LE(peakOf(m_block.data(), SoundDevice::RecordSamples), SinePeak + 2);
    }
}

TEST_F(PulsePlayback, RateChangeHoldsTheNextBlockToTheNewTone)
{
    const Tone tone(440);
    play(tone);
    record();
    ASSERT_GT(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);

    // Same table, new rate: what a sweep does between points.
    m_device->SetPlayRate(66000);
    EXPECT_EQ(m_device->playRate(), 66000);
    sleepMs(200);
    record();
    EXPECT_GT(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 660), SinePeak * 0.9);
    // Any of the old tone left at the start of the block would show at about
    // full level in its first tenth (15 bins from the new one); a short gap
    // on a loaded machine stays below a twentieth.
    EXPECT_LT(largestAmplitude(m_block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.05);
}

TEST_F(PulsePlayback, RatesAreClampedToTheCardsRange)
{
    const Tone tone(440);
    ASSERT_EQ(m_device->PlayLoop(tone.table.data(), 50).message(), "");
    EXPECT_EQ(m_device->playRate(), SoundDevice::MinRate);
    m_device->SetPlayRate(150000);
    EXPECT_EQ(m_device->playRate(), SoundDevice::MaxRate);
    sleepMs(200);
    record();
    EXPECT_GT(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 1000), SinePeak * 0.9);
}

TEST_F(PulsePlayback, BlockHoldsOnlySoundCapturedAfterTheCallBegan)
{
    const Tone tone(440);
    play(tone);
    // Sound keeps arriving from the running record stream meanwhile; none of
    // it may end up in the next block.
    sleepMs(500);
    m_device->StopPlayback();
    EXPECT_FALSE(m_device->isPlaying());
    record();
    EXPECT_EQ(peakOf(m_block.data(), SoundDevice::RecordSamples), 0);

    // And the tone is back from its start with the next PlayLoop.
    play(tone);
    record();
    EXPECT_GT(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);
}

TEST_F(PulsePlayback, VolumeLowersTheLevelAndANewDeviceStartsAtFullLevel)
{
    const Tone tone(440);
    play(tone);
    record();
    const double full = blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 440);

    m_device->SetPlayVolume(-602);
    sleepMs(100);
    record();
    EXPECT_NEAR(dB(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 440) / full), -6.02, 0.05);

    m_device->SetPlayVolume(-10000);
    sleepMs(100);
    record();
    EXPECT_EQ(peakOf(m_block.data(), SoundDevice::RecordSamples), 0);

    // Opening the play device again gives a new stream at full level.
    ASSERT_EQ(m_device->openOutputDevice(m_device->outputDevice()).message(), "");
    EXPECT_EQ(m_device->volume(), 0);
    EXPECT_EQ(m_device->pan(), 0);
    EXPECT_FALSE(m_device->isPlaying());
    play(tone);
    record();
    EXPECT_NEAR(dB(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 440) / full), 0.0, 0.05);
}

TEST_F(PulsePlayback, LevelChangesRampWithoutAClick)
{
    const Tone tone(440);
    play(tone);
    // Mute and unmute every 40 ms or so through the block: a gain that jumped
    // would leave steps up to the tone's peak in the recording.
    TestWaiter waiter;
    waiter.hook = [&](int call) {
        if (call % 40 == 0)
            m_device->SetPlayVolume((call / 40) % 2 ? -10000 : 0);
        return true;
    };
    ASSERT_EQ(m_device->RecordBlock(m_block.data(), waiter), Recorded::Complete);
    // A full-scale sine at 440 Hz moves at most 2 pi 440 / 44100 of its peak
    // per sample; the ramp adds peak / RampFrames.
    const double maxSlope = SinePeak * (2 * Pi * 440 / SoundDevice::SampleRate)
                            + double(SinePeak) / PulsePlayStream::RampFrames;
    // Without the ramp nearly every one of the 15 or so changes is a step; a
    // late wake-up of the server's thread on a loaded machine may make one
    // gap (two steps).
    int steps = 0;
    for (int n = 1; n < SoundDevice::RecordSamples; ++n)
        steps += std::abs(m_block[n] - m_block[n - 1]) > maxSlope * 1.05;
    EXPECT_LE(steps, 2);
    // It did mute: some of the block is silent.
    EXPECT_LT(toneAmplitude(m_block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);
}

TEST_F(PulseBalance, PanAttenuatesOneChannel)
{
    const Tone tone(440);
    play(tone);
    record();
    const double left = blockAmplitude(m_block.data(), Frames, 440, 2);
    const double right = blockAmplitude(m_block.data() + 1, Frames, 440, 2);
    EXPECT_NEAR(dB(left / SinePeak), 0.0, 0.05);
    EXPECT_NEAR(dB(right / SinePeak), 0.0, 0.05);

    // Negative: the right channel is attenuated, here silenced.
    m_device->SetPlayPan(-10000);
    sleepMs(100);
    record();
    EXPECT_NEAR(dB(blockAmplitude(m_block.data(), Frames, 440, 2) / left), 0.0, 0.05);
    EXPECT_EQ(peakOf(m_block.data() + 1, Frames, 2), 0);

    // Positive: the left one.
    m_device->SetPlayPan(602);
    sleepMs(100);
    record();
    EXPECT_NEAR(dB(blockAmplitude(m_block.data(), Frames, 440, 2) / left), -6.02, 0.05);
    EXPECT_NEAR(dB(blockAmplitude(m_block.data() + 1, Frames, 440, 2) / right), 0.0, 0.05);

    // Level and balance add up.
    m_device->SetPlayVolume(-602);
    sleepMs(100);
    record();
    EXPECT_NEAR(dB(blockAmplitude(m_block.data(), Frames, 440, 2) / left), -12.04, 0.05);
    EXPECT_NEAR(dB(blockAmplitude(m_block.data() + 1, Frames, 440, 2) / right), -6.02, 0.05);
}

} // namespace audimera

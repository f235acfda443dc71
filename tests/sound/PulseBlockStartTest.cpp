// Where a block starts: sound captured before RecordBlock was called, and
// still on its way when it is, never reaches the block; a flush lost with a
// closed stream does not hold up the blocks of the next one.
#include "tests/sound/PulseTestSupport.h"

#include <fcntl.h>

namespace audimera {

using namespace pulsetest;

namespace {

// A record device fed by the test: a pipe source on its own server, written
// through its FIFO. What is in the FIFO has been captured, as in a card's
// buffer that the driver has not read yet.
class PipeSource {
public:
    explicit PipeSource(const PrivateServer& server) : m_fifo(server.folder() + "/input.fifo")
    {
        const CommandResult loaded = pactl(server.address(), "load-module module-pipe-source source_name=pipe_in file="
                                                                 + m_fifo + " format=s16le rate=44100 channels=1");
        if (loaded.status != 0)
            ADD_FAILURE() << "cannot load a pipe source: " << loaded.output;
        else
            m_fd = open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK);
    }
    ~PipeSource()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    PipeSource(const PipeSource&) = delete;
    PipeSource& operator=(const PipeSource&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Captures frames of a 1 kHz tone at about half full scale, or of silence.
    void capture(int frames, bool tone)
    {
        std::vector<int16_t> samples(size_t(frames), 0);
        for (int n = 0; tone && n < frames; ++n)
            samples[size_t(n)] = int16_t(16000 * std::sin(2 * Pi * 1000 * n / SoundDevice::SampleRate));
        const ssize_t bytes = ssize_t(samples.size() * sizeof(int16_t));
        if (write(m_fd, samples.data(), size_t(bytes)) != bytes)
            ADD_FAILURE() << "the FIFO took less than was written";
    }

private:
    std::string m_fifo;
    int m_fd = -1;
};

class PulseBlockStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_PULSE_SERVER();
        m_sink = std::make_unique<PrivateSink>(sharedServer(), "start");
        m_device = std::make_unique<PulseSoundDevice>(sharedServer());
        ASSERT_EQ(openLoopback(*m_device, m_sink->name()), "");
    }
    void TearDown() override
    {
        m_device.reset();
        m_sink.reset();
    }

    std::unique_ptr<PrivateSink> m_sink;
    std::unique_ptr<PulseSoundDevice> m_device;
    std::vector<int16_t> m_block = std::vector<int16_t>(SoundDevice::RecordSamples + 1, 0);
};

} // namespace

TEST_F(PulseBlockStart, SoundStillOnItsWayWhenTheBlockIsAskedForStaysOut)
{
    const Tone tone(1000);
    // How long the server's thread is kept from reading while the tone
    // plays: what the server sends meanwhile piles up on its way, tone first
    // (then silence, once the play stream has run dry).
    for (int holdMs : {30, 100}) {
        SCOPED_TRACE(holdMs);
        ASSERT_EQ(m_device->PlayLoop(tone.table.data(), tone.rate).message(), "");
        sleepMs(200);
        m_device->holdServerThread(true);
        sleepMs(holdMs);
        m_device->StopPlayback();
        // The block is asked for with the old tone still unread; the server's
        // thread goes on once the block waits.
        TestWaiter waiter;
        waiter.hook = [&](int) {
            m_device->holdServerThread(false);
            return true;
        };
        ASSERT_EQ(m_device->RecordBlock(m_block.data(), waiter), Recorded::Complete);
        // Not a sample of it, from the first on: the tone was stopped before
        // the call began.
        EXPECT_EQ(peakOf(m_block.data(), SoundDevice::RecordSamples / 10), 0);
        EXPECT_EQ(peakOf(m_block.data(), SoundDevice::RecordSamples), 0);
    }
}

TEST(PulseBlockStartOnACard, SoundCapturedBeforeTheCallButSentAfterItStaysOut)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    PipeSource card(server);
    ASSERT_TRUE(card.isOpen());
    PulseSoundDevice device(server.address());
    ASSERT_EQ(device.refreshDevices().message(), "");
    ASSERT_EQ(device.openInputDevice(indexOf(device.recordDevices(), "pipe_in")).message(), "");

    // A card holds what it captured until its driver reads it, here a short
    // tone (3 ms, less than a fragment): the server is frozen meanwhile, so
    // the tone may reach it only after the flush of the block that was asked
    // for after it was captured. Whether it does is a race of the server's
    // threads, so the block is tried a few times.
    constexpr int Samples = 2000;
    for (int trial = 0; trial < 10; ++trial) {
        SCOPED_TRACE(trial);
        card.capture(2205, false);
        sleepMs(100); // all of it taken in: the FIFO is empty
        server.signal(SIGSTOP);
        sleepMs(20);
        card.capture(132, true);
        std::vector<int16_t> block(Samples, 1);
        TestWaiter waiter;
        waiter.hook = [&](int call) {
            if (call == 1)
                server.signal(SIGCONT);
            card.capture(44, false); // silence from then on, about in time
            return true;
        };
        const audimera::Result<Recorded> result = device.recordSamples(block.data(), Samples, waiter);
        server.signal(SIGCONT);
        ASSERT_EQ(result, Recorded::Complete);
        EXPECT_EQ(peakOf(block.data(), Samples), 0);
    }
}

TEST_F(PulseBlockStart, AFlushLostWithAClosedStreamDoesNotHoldUpTheNextOne)
{
    const Tone tone(440);
    ASSERT_EQ(m_device->PlayLoop(tone.table.data(), tone.rate).message(), "");
    // A block given up before its flush even left: the stream is closed with
    // the flush unanswered.
    m_device->holdServerThread(true);
    TestWaiter impatient;
    impatient.hook = [](int) { return false; };
    EXPECT_EQ(m_device->RecordBlock(m_block.data(), impatient), Recorded::Cancelled);
    m_device->closeAudio();

    ASSERT_EQ(openLoopback(*m_device, m_sink->name()), "");
    ASSERT_EQ(m_device->PlayLoop(tone.table.data(), tone.rate).message(), "");
    sleepMs(200);
    for (int block = 0; block < 2; ++block) {
        TestWaiter waiter;
        ASSERT_EQ(m_device->RecordBlock(m_block.data(), waiter), Recorded::Complete);
        EXPECT_GT(blockAmplitude(m_block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);
    }
}

} // namespace audimera

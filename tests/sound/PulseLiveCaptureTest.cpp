// The live capture on the private PulseAudio: what playPeriod() loops comes back
// whole, without a gap; recordings refuse each other; a source that goes fails it.
#include "tests/sound/PulseTestSupport.h"

#include <cstdio>

namespace audimera {

namespace {

using namespace pulsetest;

TEST(PulseLiveCapture, LoopedPeriodComesBackWholeAndPeriodic)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "capture", 48000);
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    std::vector<float> period(4096);
    uint32_t state = 4321;
    for (float& v : period)
        v = float(int32_t(state = state * 1664525u + 1013904223u)) / 4294967296.0f; // within +-0.5

    ASSERT_EQ(device.playPeriod(period).message(), "");
    ASSERT_EQ(device.startCapture(RecordChannel::Mix).message(), "");
    EXPECT_EQ(device.captureRate(), 48000);
    EXPECT_GE(double(device.captureCapacity()), SoundDevice::CaptureKeptSeconds * 48000);
    // Neither a block nor a duplex run while it captures.
    TestWaiter waiter;
    std::vector<int16_t> block(SoundDevice::RecordSamples);
    std::vector<float> captured, recorded;
    EXPECT_EQ(device.RecordBlock(block.data(), waiter).kind(), Failure::Busy);
    EXPECT_EQ(device.playAndRecord({nullptr, 0, 48000, {}, 4800}, recorded, waiter).kind(), Failure::Busy);
    EXPECT_EQ(device.startCapture(RecordChannel::Left).kind(), Failure::Busy);

    int reads = 0;
    for (; captured.size() < 72000; ++reads) { // 1.5 s
        sleepMs(15);
        const Result<CaptureRead> read = device.readCapture(captured);
        ASSERT_TRUE(read && !read->gap) << read.message() << " at read " << reads;
    }
    device.stopCapture();
    device.StopPlayback();

    // From the first sound on (past the sink's start), every period equals
    // the next and the played one at some shift.
    const size_t n = period.size();
    size_t start = 0;
    while (start < captured.size() && captured[start] == 0.0f)
        ++start;
    start += 2 * n;
    ASSERT_LT(start + 3 * n, captured.size());
    double periodic = 0, played = 0;
    for (size_t i = start; i + n < captured.size(); ++i)
        periodic = std::max(periodic, double(std::abs(captured[i + n] - captured[i])));
    size_t shift = 0;
    for (size_t k = 0; k < n; ++k)
        if (std::abs(captured[start] - period[k]) < std::abs(captured[start] - period[shift]))
            shift = k;
    for (size_t i = 0; i < 2 * n; ++i)
        played = std::max(played, double(std::abs(captured[start + i] - period[(shift + i) % n])));
    std::printf("[ figures  ] %zu frames in %d reads, sound from %zu; periods differ by %.3g, the played one by %.3g\n",
                captured.size(), reads, start - 2 * n, periodic, played);
    EXPECT_LT(periodic, 1e-4);
    EXPECT_LT(played, 1e-4);

    // Nor a capture inside a block or a duplex run (each cancelled at once).
    Status inside;
    waiter.hook = [&](int) {
        inside = device.startCapture(RecordChannel::Mix);
        return false;
    };
    EXPECT_EQ(device.RecordBlock(block.data(), waiter), Recorded::Cancelled);
    EXPECT_EQ(inside.kind(), Failure::Busy);
    inside = {};
    EXPECT_EQ(device.playAndRecord({nullptr, 0, 48000, {}, 4800}, recorded, waiter), Recorded::Cancelled);
    EXPECT_EQ(inside.kind(), Failure::Busy);
    EXPECT_FALSE(device.capturing());

    ASSERT_EQ(device.startCapture(RecordChannel::Right).message(), "");
    sink.unload();
    Result<CaptureRead> read = CaptureRead{};
    for (int i = 0; i < 200 && read; ++i, sleepMs(10))
        read = device.readCapture(captured);
    EXPECT_EQ(read.kind(), Failure::Device) << read.message();
    EXPECT_FALSE(device.capturing());
}

} // namespace

} // namespace audimera

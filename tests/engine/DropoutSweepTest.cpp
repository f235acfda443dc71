// Lost sound in a recorded sweep, found by the analysis: every simulated
// chain clean, every kind of loss on a loud and a quiet recording found.
#include "engine/LogSweepMeasurement.h"
#include "signal/SimulatedSoundCard.h"

#include <gtest/gtest.h>

#include <functional>

namespace audimera {

namespace {

constexpr std::size_t Latency = 2048;

struct NoWait : RecordWaiter {
    bool waitOnce() override { return true; }
};

// The sweep's recording through chain, changed by fault, then analysed.
LogSweepProblem analysed(const std::string& chain, const std::function<void(std::vector<float>&)>& fault,
                         std::size_t length = std::size_t(1) << 16)
{
    std::string error;
    SimulatedSoundCard card;
    EXPECT_TRUE(card.initAudio().ok());
    card.setChain(*SoundChain::parse(chain, error));
    card.setDuplexLatency(int(Latency)); // a server's, more than a skip
    LogSweepSettings settings;
    settings.length = length;
    settings.pointsPerOctave = 3;
    const LogSweep sweep = *LogSweep::make(settings.shape(card.duplexRate()));
    DuplexRequest request;
    request.play = sweep.samples().data();
    request.playFrames = sweep.length();
    request.rate = card.duplexRate();
    request.playChannels = DuplexRequest::Channels::Both;
    request.recordFrames = sweep.length() + std::size_t(LogSweepSettings::TailSeconds * request.rate);
    request.recordChannels = 1;
    std::vector<float> recording;
    NoWait waiter;
    if (const auto recorded = card.playAndRecord(request, recording, waiter); !recorded)
        return recorded.message() == SoundDevice::LostSamplesError ? LogSweepProblem::LostSamples
                                                                   : LogSweepProblem::Device;
    fault(recording);
    LogSweepMeasurement measurement;
    LogSweepProblem problem = LogSweepProblem::None;
    (void)measurement.analyse(sweep, settings, recording.data(), recording.size(), 1, &problem);
    return problem;
}

constexpr std::size_t Middle = Latency + (std::size_t(1) << 15);

void fill(std::vector<float>& r, std::size_t from, std::size_t count, const std::function<float(std::size_t)>& v)
{
    for (std::size_t i = from; i < from + count && i < r.size(); ++i)
        r[i] = v(i);
}

} // namespace

TEST(DropoutSweepTest, CleanChainsPassAndEveryLossFails)
{
    const std::function<void(std::vector<float>&)> none = [](std::vector<float>&) {};
    for (const char* chain : {"", "gain=-20", "gain=-50,noise=-100", "lowpass=2000", "highpass=100", "lowpass2=1000",
                              "highpass2=50", "noise=-50", "delay=5", "poly=0.1,0.05", "drift=50", "drift=-100",
                              "lowpass2=1000,noise=-40,drift=50"})
        EXPECT_EQ(analysed(chain, none), LogSweepProblem::None) << chain;

    struct Fault {
        const char* name;
        std::function<void(std::vector<float>&)> apply;
    };
    const Fault faults[] = {
        {"gap at the noise floor", [](auto& r) { fill(r, Middle, 480, [&](std::size_t i) { return r[i - Middle + 10]; }); }},
        {"gap of zeros", [](auto& r) { fill(r, Middle, 480, [](std::size_t) { return 0.0f; }); }},
        {"gap at a tiny constant", [](auto& r) { fill(r, Middle, 480, [](std::size_t) { return 1e-6f; }); }},
        {"11 ms skipped", [](auto& r) {
             r.erase(r.begin() + std::ptrdiff_t(Middle), r.begin() + std::ptrdiff_t(Middle + 529));
             r.resize(r.size() + 529, 0.0f);
         }},
        {"silent to the end", [](auto& r) { fill(r, Middle, r.size(), [](std::size_t) { return 0.0f; }); }},
    };
    for (const char* chain : {"", "gain=-50,noise=-100", "lowpass2=2000,noise=-70"})
        for (const Fault& f : faults)
            EXPECT_EQ(analysed(chain, f.apply), LogSweepProblem::LostSamples) << chain << ", " << f.name;
    // A card that drops samples says so.
    for (const char* chain : {"drop=2", "drop=1000", "drop=50000"})
        EXPECT_EQ(analysed(chain, none), LogSweepProblem::LostSamples) << chain;
}

} // namespace audimera

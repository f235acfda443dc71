// Lost sound in a recorded sweep, found by the analysis: every simulated
// chain clean, every kind of loss on a loud, a quiet and a filtered one.
#include "engine/LogSweepMeasurement.h"
#include "devices/SimulatedSoundCard.h"

#include <gtest/gtest.h>

#include <optional>

namespace audimera {

namespace {

struct NoWait : RecordWaiter {
    bool waitOnce() override { return true; }
};

constexpr std::size_t Latency = 2048, Middle = Latency + 32768; // a server's latency, more than a skip

// The 2^16 sweep's recording through chain, changed by fault, analysed: the
// kind of its failure, none when it gave a result.
std::optional<Failure> analysed(const std::string& chain, void (*fault)(std::vector<float>&))
{
    std::string error;
    SimulatedSoundCard card;
    EXPECT_TRUE(card.initAudio().ok());
    card.setChain(*SoundChain::parse(chain, error));
    card.setDuplexLatency(int(Latency));
    LogSweepSettings settings;
    settings.length = std::size_t(1) << 16;
    const LogSweep sweep = *LogSweep::make(settings.shape(card.duplexRate()));
    const DuplexRequest request{sweep.samples().data(), sweep.length(), card.duplexRate(),
                                DuplexRequest::Channels::Both, sweep.length() + 8192, 1, {}};
    std::vector<float> r;
    NoWait waiter;
    if (const auto recorded = card.playAndRecord(request, r, waiter); !recorded)
        return recorded.message() == SoundDevice::LostSamplesError ? Failure::LostSamples : Failure::Device;
    fault(r);
    const auto analysis = LogSweepMeasurement().analyse(sweep, settings, r.data(), r.size(), 1);
    return analysis.ok() ? std::nullopt : std::optional(analysis.kind());
}

} // namespace

TEST(DropoutSweepTest, CleanChainsPassAndEveryLossFails)
{
    const auto none = [](std::vector<float>&) {};
    for (const char* chain : {"", "gain=-20", "gain=-50,noise=-100", "lowpass=2000", "highpass=100", "lowpass2=1000",
                              "highpass2=50", "noise=-50", "delay=5", "poly=0.1,0.05", "drift=50", "drift=-100",
                              "lowpass2=1000,noise=-40,drift=50"})
        EXPECT_EQ(analysed(chain, none), std::nullopt) << chain;
    const std::pair<const char*, void (*)(std::vector<float>&)> faults[] = {
        {"gap at the noise floor", [](auto& r) { std::copy_n(r.begin() + 10, 480, r.begin() + Middle); }},
        {"gap of zeros", [](auto& r) { std::fill_n(r.begin() + Middle, 480, 0.0f); }},
        {"gap at a tiny constant", [](auto& r) { std::fill_n(r.begin() + Middle, 480, 1e-6f); }},
        {"11 ms skipped", [](auto& r) { std::rotate(r.begin() + Middle, r.begin() + Middle + 529, r.end()); }},
        {"silent to the end", [](auto& r) { std::fill(r.begin() + Middle, r.end(), 0.0f); }},
        {"5 ms skipped high up", [](auto& r) { std::rotate(r.begin() + Latency + 50000, r.begin() + Latency + 50221, r.end()); }},
        {"5 ms skipped at 15 Hz", [](auto& r) { std::rotate(r.begin() + Latency + 7832, r.begin() + Latency + 8057, r.end()); }},
        {"5 ms skipped at 10 Hz, in the fade-in", [](auto& r) { std::rotate(r.begin() + Latency + 4624, r.begin() + Latency + 4849, r.end()); }},
        {"silent from near the top", [](auto& r) { std::fill(r.begin() + Latency + 60000, r.end(), 0.0f); }},
    };
    for (const char* chain : {"", "gain=-50,noise=-100", "lowpass2=2000,noise=-70"})
        for (const auto& [name, fault] : faults)
            EXPECT_EQ(analysed(chain, fault), Failure::LostSamples) << chain << ", " << name;
    for (const char* chain : {"drop=2", "drop=1000", "drop=50000"}) // the card says so
        EXPECT_EQ(analysed(chain, none), Failure::LostSamples) << chain;
}

} // namespace audimera

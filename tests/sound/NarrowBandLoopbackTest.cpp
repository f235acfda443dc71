// The narrow-band detector through a real sound server: a 31-band sweep
// played into a LADSPA filter sink in front of a private null sink and
// recorded from that sink's monitor, against the filter's exact response.
// About 30 s in real time.
#include "tests/sound/LadspaFilter.h"
#include "tests/sound/PulseTestSupport.h"
#include "tests/sound/SectionDisplays.h"

#include "dsp/DspLibrary.h"
#include "engine/BlockAnalysis.h"
#include "ui/presenter/MainPresenter.h"
#include "ui/presenter/PanelTable.h"

#include <complex>
#include <map>

namespace audimera {

namespace {

using namespace pulsetest;

// The filter's exact magnitude in dB at each of hz.
std::map<double, double> pluginResponseDb(const std::vector<double>& hz)
{
    std::map<double, double> response;
    const std::vector<float> impulse = filterImpulse(65536);
    if (!impulse.empty())
        for (const double f : hz)
            response[f] = dB(std::abs(transformAt(impulse, f)));
    return response;
}

// Counts, in each tone's analysed section, the samples of silent runs: a
// busy machine can let the play stream run dry, and the server then plays
// silence, which takes its share off any detector's level.
class SilenceCountingDisplays : public SectionDisplays {
public:
    using SectionDisplays::SectionDisplays;
    std::map<double, double> silentShare;

protected:
    void measured(double frequency, int, const int16_t* section, int length) override
    {
        // The tone moves by more than 2 a sample through zero down to
        // -40 dB: neighbours within +-1 are silence.
        int silent = 0, run = 0;
        for (int n = 0; n <= length; ++n) {
            if (n < length && std::abs(section[n]) <= 1) {
                ++run;
                continue;
            }
            if (run >= 3)
                silent += run;
            run = 0;
        }
        silentShare[frequency] = double(silent) / length;
    }
};

TEST(NarrowBandLoopbackTest, ThirdOctaveSweepThroughAFilterSinkFollowsItsExactResponse)
{
    REQUIRE_PULSE_SERVER();
    ASSERT_EQ(DspLibrary::instance().require(Audidsp::programExports()).message(), "");
    const std::vector<double> bands(std::begin(FrequencyPlan::IsoBands31), std::end(FrequencyPlan::IsoBands31));
    const std::map<double, double> exact = pluginResponseDb(bands);
    if (exact.empty())
        GTEST_SKIP() << "the LADSPA plugin " << PluginFile << " is not installed (swh-plugins)";

    PrivateSink sink(sharedServer(), "narrow");
    FilterSink filter(sharedServer(), sink.name(), "audimera_filter_" + std::to_string(getpid()));
    ASSERT_TRUE(filter.loaded());
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openByName(device, filter.name(), sink.monitor()), "");

    SweepRig<SilenceCountingDisplays> rig(device);
    rig.panel["MenuEntryDetector(0)"].value = 0;
    rig.panel["MenuEntryDetector(1)"].value = 1;

    rig.engine.cmdStart_Click();
    EXPECT_TRUE(rig.host.messages.empty()) << rig.host.messages.front();
    std::map<double, double> levels;
    for (const CurvePoint& p : rig.document.lastTrace())
        levels[p.frequency] = p.level;
    ASSERT_EQ(levels.size(), 31u);
    // Against 1 kHz, both as if unbroken: a silent share s lowers a level
    // by dB(1 - s).
    auto unbroken = [&](double hz) { return levels.at(hz) - dB(1 - rig.displays.silentShare[hz]); };
    double worst = 0;
    int broken = 0;
    for (const double hz : bands) {
        const double measured = unbroken(hz) - unbroken(1000);
        const double expected = exact.at(hz) - exact.at(1000);
        const double allowance = -dB(1 - rig.displays.silentShare[hz]) - dB(1 - rig.displays.silentShare[1000]);
        broken += rig.displays.silentShare[hz] > 0;
        EXPECT_NEAR(measured, expected, 0.05 + allowance) << hz << " Hz, silent share " << rig.displays.silentShare[hz];
        worst = std::max(worst, std::abs(measured - expected));
    }
    std::printf("[ figures  ] narrow band through %s (%g Hz, %g) on PulseAudio: largest difference from the "
                "exact response %.4f dB over 31 bands (%d with breaks)\n",
                PluginLabel, double(Corner), double(Resonance), worst, broken);
}

} // namespace

} // namespace audimera

// The log sweep through the private sound server: a perfect loopback (a
// null sink's monitor), and a LADSPA filter sink in front of it as the
// device under test, against the filter's exact response (and the impulse
// responses, sample by sample, against it through the sweep's band edges).
// About 4 s in real time.
#include "tests/sound/LadspaFilter.h"
#include "tests/sound/PulseTestSupport.h"

#include "engine/ImpulseData.h"
#include "engine/LogSweepMeasurement.h"
#include "engine/MeasurementSession.h"
#include "signal/PhaseAnalysis.h"

#include <complex>

namespace audimera {

namespace {

using namespace pulsetest;

double wrapDegrees(double d)
{
    d = std::fmod(d + 180, 360);
    return (d < 0 ? d + 360 : d) - 180;
}

// How far (dB re its peak) r's impulse response, where its window leaves
// it whole, lies from device's own through the band edges of the sweep of
// `length` samples that measured it, after the whole delay that fits best.
double departureFromBandEdgesDb(const LogSweepResults& r, std::size_t length, const std::vector<float>& device)
{
    const audimera::Result<LogSweep> sweep = LogSweep::make(LogSweepShape{r.rate, length});
    const std::size_t n = r.impulse.size(), from = r.impulsePeak / 2, to = n - (n - r.impulsePeak) / 8;
    std::vector<double> exact(n, 0.0);
    std::copy(device.begin(), device.begin() + std::min(n, device.size()), exact.begin());
    sweep->bandEdgeFilter(exact);
    double best = INFINITY, peak = 0;
    for (const double v : exact)
        peak = std::max(peak, std::abs(v));
    for (std::size_t start = r.impulsePeak - std::min<std::size_t>(r.impulsePeak, 64); start <= r.impulsePeak; ++start) {
        double worst = 0;
        for (std::size_t i = from; i < to; ++i)
            worst = std::max(worst, std::abs(r.impulse[i] - (i >= start ? exact[i - start] : 0.0)));
        best = std::min(best, worst);
    }
    return 20 * std::log10(best / peak);
}

audimera::Result<LogSweepResults> measure(PulseSoundDevice& device, std::size_t length)
{
    LogSweepSettings settings;
    settings.length = length;
    settings.pointsPerOctave = 6;
    LogSweepMeasurement measurement;
    TestWaiter waiter;
    return measurement.run(device, settings, waiter);
}

TEST(LogSweepLoopbackTest, PerfectLoopbackIsFlat)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "logsweep");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    const audimera::Result<LogSweepResults> r = measure(device, std::size_t(1) << 15);
    ASSERT_TRUE(r.ok()) << r.message();
    for (const ResponsePoint& p : r->response)
        EXPECT_NEAR(p.level, 0, 0.02) << p.frequency;
    EXPECT_GT(r->delaySamples, 0);
    EXPECT_GT(r->impulseSnrDb, 80);
    EXPECT_LT(departureFromBandEdgesDb(*r, std::size_t(1) << 15, {1.0f}), -80);
}

// Magnitude within 0.05 dB of the filter's (relative to 1 kHz), phase
// within 2 degrees once the best-fitting pure delay is taken out, and as
// the default phase reference gives it; the group delay with that delay
// removed within 2 % of the filter's up to 5 kHz.
TEST(LogSweepLoopbackTest, FilterSinkFollowsItsExactResponse)
{
    REQUIRE_PULSE_SERVER();
    const std::vector<float> impulse = filterImpulse(16384);
    if (impulse.empty())
        GTEST_SKIP() << "the LADSPA plugin " << PluginFile << " is not installed (swh-plugins)";
    PrivateSink sink(sharedServer(), "logsweepf");
    FilterSink filter(sharedServer(), sink.name(), sink.name() + "_filter");
    ASSERT_TRUE(filter.loaded());
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openByName(device, filter.name(), sink.monitor()), "");

    const audimera::Result<LogSweepResults> r = measure(device, std::size_t(1) << 16);
    ASSERT_TRUE(r.ok()) << r.message();
    const std::complex<double> at1k = transformAt(impulse, 1000);
    double measured1k = 0;
    for (const ResponsePoint& p : r->response)
        if (std::abs(p.frequency - 1000) < std::abs(measured1k - 1000))
            measured1k = p.frequency;
    double level1k = 0;
    for (const ResponsePoint& p : r->response)
        if (p.frequency == measured1k)
            level1k = p.level - dB(std::abs(transformAt(impulse, measured1k)) / std::abs(at1k));
    std::vector<double> residual;
    double worstLevel = 0;
    for (const ResponsePoint& p : r->response) {
        const std::complex<double> exact = transformAt(impulse, p.frequency);
        EXPECT_NEAR(p.level - level1k, dB(std::abs(exact) / std::abs(at1k)), 0.05) << p.frequency;
        worstLevel = std::max(worstLevel, std::abs(p.level - level1k - dB(std::abs(exact) / std::abs(at1k))));
        residual.push_back(*p.phase - std::arg(exact) * 180 / Pi);
    }
    // The best pure delay, in samples, by a fine search.
    double best = INFINITY;
    for (double tau = -20; tau <= 20; tau += 0.002) {
        double worst = 0;
        for (size_t i = 0; i < residual.size(); ++i)
            worst = std::max(worst, std::abs(wrapDegrees(residual[i] + 360 * r->response[i].frequency * tau
                                                                         / SoundDevice::SampleRate)));
        best = std::min(best, worst);
    }
    EXPECT_LE(best, 2.0);
    std::printf("magnitude within %.4f dB, phase within %.3f degrees\n", worstLevel, best);
    // The default phase reference (auto) takes out just the server's delay:
    // the filter's own phase, with no delay searched for.
    double worstPhase = 0;
    for (const double d : residual)
        worstPhase = std::max(worstPhase, std::abs(wrapDegrees(d)));
    EXPECT_LE(worstPhase, 2.0);
    std::printf("[ figures  ] phase with the default reference (delay %.3f samples, peak at %.3f) within %.3f degrees "
                "of the filter's, 20 Hz..20 kHz\n", r->phaseDelaySamples, r->delaySamples, worstPhase);
    const double departure = departureFromBandEdgesDb(*r, std::size_t(1) << 16, impulse);
    EXPECT_LT(departure, -80);
    std::printf("impulse response within %.1f dB re peak of the filter's own through the band edges\n", departure);

    LogSweepRun run;
    run.results = *r;
    run.settings.length = std::size_t(1) << 16;
    const audimera::Result<PhaseResult> phase = analysePhase(ImpulseData::of(run)->view(), PhaseSettings{});
    ASSERT_TRUE(phase.ok()) << phase.message();
    // From two octaves above the short sweep's high-pass corner (14 Hz):
    // nearer, the band edges as deconvolved differ from the stated ones.
    const double lowest = 4 * LogSweep::make(run.settings.shape(r->rate))->bandEdges().highPassHz;
    double worstDelay = 0;
    for (const PhasePoint& p : phase->points) {
        if (p.hz < lowest || p.hz > 5000)
            continue;
        std::complex<double> ramp = 0; // the filter's exact group delay: Re{DFT(n h) / DFT(h)}
        for (size_t n = 0; n < impulse.size(); ++n)
            ramp += double(n) * impulse[n] * std::polar(1.0, -2 * Pi * p.hz * double(n) / SoundDevice::SampleRate);
        const double exactMs = (ramp / transformAt(impulse, p.hz)).real() * 1000 / SoundDevice::SampleRate;
        ASSERT_TRUE(p.groupDelayMs) << p.hz;
        worstDelay = std::max(worstDelay, std::abs(*p.groupDelayMs - phase->delayMs - exactMs) / exactMs);
    }
    EXPECT_LE(worstDelay, 0.02);
    std::printf("[ figures  ] group delay (delay removed) within %.2f %% of the filter's, %.0f Hz..5 kHz\n",
                100 * worstDelay, lowest);
}

} // namespace

} // namespace audimera

// Group delay, minimum and excess phase of log sweeps through the simulated
// card, against the chain's exact response.
#include "signal/PhaseAnalysis.h"
#include "common/Rounding.h"
#include "devices/SimulatedSoundCard.h"
#include "engine/ImpulseData.h"
#include "engine/MeasurementSession.h"

#include <gtest/gtest.h>

#include <complex>
#include <numbers>

namespace audimera {

namespace {

constexpr double Pi = std::numbers::pi;

struct NoWait : RecordWaiter {
    bool waitOnce() override { return true; }
};

// The chain's lowpass2 at corner: its group delay at f, ms (0 without one).
double lowPassDelayMs(double corner, double f, int rate)
{
    const double k = std::tan(Pi * corner / rate), norm = 1 / (1 + std::sqrt(2.0) * k + k * k);
    const double b0 = k * k * norm, a1 = 2 * (k * k - 1) * norm, a2 = (1 - std::sqrt(2.0) * k + k * k) * norm;
    const auto at = [&](double hz) {
        const std::complex<double> z = std::polar(1.0, -2 * Pi * hz / rate);
        return b0 * (1.0 + 2.0 * z + z * z) / (1.0 + a1 * z + a2 * z * z);
    };
    return corner <= 0 ? 0 : -std::arg(at(f * 1.0001) / at(f * 0.9999)) / (2 * Pi * f * 0.0002) * 1000;
}

} // namespace

TEST(PhaseAnalysisTest, GroupDelayAndMinimumPhaseOfSimulatedChains)
{
    struct Case {
        const char* chain;
        double delayMs, corner;     // the chain's delay (as written) and low-pass
        double delayTopHz, delayTol; // group delay checked to there: absolute ms, or relative when < 0
        double phaseTopHz, phaseTol; // minimum phase against the measured (degrees), to there
        double maskDb;
    } cases[] = {
        {"delay=5", 5, 0, 20000, 0.01, 20000, 1, 40},
        {"lowpass2=1000", 0, 1000, 5000, -0.02, 10000, 2, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chain);
        std::string error;
        SimulatedSoundCard card;
        ASSERT_TRUE(card.initAudio().ok());
        card.setChain(*SoundChain::parse(c.chain, error));
        const int rate = card.duplexRate();
        LogSweepRun run;
        NoWait waiter;
        Result<LogSweepResults> measured = LogSweepMeasurement().run(card, run.settings, waiter);
        ASSERT_TRUE(measured.ok()) << measured.message();
        run.results = std::move(*measured);
        const std::shared_ptr<const ImpulseData> data = ImpulseData::of(run);
        PhaseSettings settings;
        settings.maskDb = c.maskDb;
        const Result<PhaseResult> result = analysePhase(data->view(), settings);
        ASSERT_TRUE(result.ok()) << result.message();
        // The chain's delay is whole samples; the card's latency comes first.
        const double pureMs = (nearestInt(c.delayMs * rate / 1000) + card.duplexLatency()) * 1000.0 / rate;
        double worstDelay = 0, worstExcess = 0, worstPhase = 0;
        for (const PhasePoint& p : result->points) {
            const bool delayed = p.hz <= c.delayTopHz, phased = p.hz <= c.phaseTopHz;
            ASSERT_TRUE(!phased || (p.groupDelayMs && p.minimumDeg)) << p.hz;
            const double expected = lowPassDelayMs(c.corner, p.hz, rate);
            const double tol = c.delayTol > 0 ? c.delayTol : -c.delayTol * expected;
            if (delayed) {
                worstDelay = std::max(worstDelay, std::abs(*p.groupDelayMs - pureMs - expected) / tol);
                worstExcess = std::max(worstExcess, std::abs(*p.excessGroupDelayMs - pureMs));
            }
            const double reference = c.corner > 0 ? *p.measuredDeg : 0;
            if (phased)
                worstPhase = std::max(worstPhase, std::abs(std::remainder(*p.minimumDeg - reference, 360)));
        }
        std::printf("%s: group delay worst %.3f of its tolerance, excess %.5f ms off, minimum phase %.3f deg off\n",
                    c.chain, worstDelay, worstExcess, worstPhase);
        EXPECT_LE(worstDelay, 1);
        EXPECT_LE(worstPhase, c.phaseTol);
        EXPECT_LE(worstExcess, 0.01); // a minimum-phase chain's excess is its delay
        const Result<PhaseResult> stopped = analysePhase(data->view(), settings, [](double f) { return f < 0.5; });
        EXPECT_EQ(stopped.kind(), Failure::Cancelled);
    }
}

} // namespace audimera

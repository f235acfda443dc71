// Whole measurements through a real sound server: the engine and the
// headless command on a private PulseAudio whose null sink is looped back
// through its monitor.
#include "tests/sound/PulseTestSupport.h"
#include "tests/sound/SectionDisplays.h"

#include "dsp/DspLibrary.h"
#include "cli/MeasureCommand.h"
#include "ui/presenter/MainPresenter.h"
#include "ui/presenter/PanelTable.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <map>
#include <sstream>

namespace audimera {

namespace {

using namespace pulsetest;

// How the engine analyses a tone block: the samples from a rising zero
// crossing within half a period of sample 4000 to sample 29999, their mean
// magnitude taken over (29999 - start).
constexpr int SectionEnd = 29999;
constexpr int NominalStart = 4000;

// What a section held besides the tone: breaks in the loopback. When the test
// process is held up (a busy machine) the play stream runs dry and the server
// plays silence for that time, so the mean magnitude drops by the silent
// share (188 silent samples: -0.063 dB). At peak 16000 a tone of 20 Hz or
// more moves by at least 45 a sample through zero, so two neighbouring
// samples within +-Quiet are never both the tone: such runs are silence.
struct Section {
    int start = 0;
    int silent = 0; // samples in silent runs
    int breaks = 0; // silent runs
};

Section sectionOf(const int16_t* x, int start)
{
    constexpr int Quiet = 8;
    Section s;
    s.start = start;
    int run = 0;
    for (int n = 0; n <= SectionEnd - start + 1; ++n) {
        if (n <= SectionEnd - start && std::abs(x[n]) <= Quiet) {
            ++run;
            continue;
        }
        if (run >= 2) {
            s.silent += run;
            ++s.breaks;
        }
        run = 0;
    }
    return s;
}

// Keeps the sections, and checks in every analysed section that the
// strongest of the band frequencies is the one being measured.
class CheckingDisplays : public SectionDisplays {
public:
    using SectionDisplays::SectionDisplays;
    std::vector<double> wrongPeaks;
    std::map<double, Section> sections; // the last analysed one of each band

protected:
    void measured(double frequency, int start, const int16_t* section, int samples) override
    {
        const int length = samples - 1;
        double best = 0, bestFrequency = 0;
        for (double f : FrequencyPlan::IsoBands31) {
            const double a = toneAmplitude(section, length, f);
            if (a > best) {
                best = a;
                bestFrequency = f;
            }
        }
        if (bestFrequency != frequency)
            wrongPeaks.push_back(frequency);
        sections[frequency] = sectionOf(section, start);
    }
};

// The lowest and highest mean magnitude of a unit sine of frequency hz over
// every section the engine can pick for it: the start is within half a period
// (and a sample) of sample 4000, where the tone's phase is within one
// sample's step of zero. Where the samples fall in the period and the part
// period at the end move the mean: at 20 Hz (12 periods) by +-0.04 dB, for a
// period of a whole number of samples (3150 Hz: 14, 6300 Hz: 7) by -0.15 to
// +0.07 dB, above 800 Hz otherwise by about 0.002 dB. Which section a run
// gets depends on the server's timing; these limits hold for any of them.
struct DetectorRange {
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
};

DetectorRange detectorRange(double hz)
{
    // Fine enough for the whole-sample periods, whose mean goes through its
    // whole range while the phase moves by half a step: four times as many
    // phases move no limit by 0.0001 dB.
    constexpr int Phases = 161;
    const double step = 2 * Pi * hz / SoundDevice::SampleRate;
    const double halfPeriod = SoundDevice::SampleRate / (2 * hz);
    const int longest = SectionEnd - std::max(1, int(std::floor(NominalStart - halfPeriod)) - 1) + 1;
    const int shortest = SectionEnd - (int(std::ceil(NominalStart + halfPeriod)) + 1) + 1;
    std::vector<double> sines(longest), cosines(longest);
    for (int n = 0; n < longest; ++n) {
        sines[n] = std::sin(step * n);
        cosines[n] = std::cos(step * n);
    }
    DetectorRange range;
    for (int p = 0; p < Phases; ++p) {
        const double phase = step * (2.0 * p / (Phases - 1) - 1);
        const double c = std::cos(phase), s = std::sin(phase);
        double sum = 0;
        for (int n = 0; n < longest; ++n) {
            sum += std::abs(sines[n] * c + cosines[n] * s); // |sin(step n + phase)|
            if (n + 1 >= shortest) { // n + 1 samples, a mean over n
                range.low = std::min(range.low, sum / n);
                range.high = std::max(range.high, sum / n);
            }
        }
    }
    return range;
}

// A band's level as if its section had played unbroken, and how far that can
// still be off. Silence adds nothing to the sum, so the level is low by the
// silent share. Each break also cuts the tone into one more piece, whose part
// periods at both ends move the sum by at most 2 x 0.21 / step (0.21 being
// the largest integral of |sin| - 2/pi over a part period, in radians) plus
// a sample each for where the samples fall: against a sum of 2/pi a sample.
struct Unbroken {
    double level = 0;
    double allowance = 0; // dB either way
};

Unbroken unbroken(double hz, double level, const Section& s)
{
    const double samples = SectionEnd - s.start + 1;
    const double step = 2 * Pi * hz / SoundDevice::SampleRate;
    const double partPeriod = std::sqrt(1 - 4 / (Pi * Pi)) - 1 + 2 / Pi * std::asin(2 / Pi); // 0.2105
    const double edges = s.breaks * (2 * partPeriod / step + 2) * (Pi / 2) / samples;
    return {level - dB((samples - s.silent) / samples), dB(1 + edges)};
}

// What the loopback adds itself: the table player's band-limited reading is
// flat to 0.01 dB (TablePlayerTest), and rounding to 16 bits moves a mean of
// 10000 by far less than 0.001 dB.
constexpr double LoopbackFlatnessDb = 0.01;

TEST(LoopbackSweepTest, ThirdOctaveSweepIsFlatAndHearsEachBand)
{
    REQUIRE_PULSE_SERVER();
    ASSERT_EQ(DspLibrary::instance().require(Audidsp::programExports()).message(), "");
    PrivateSink sink(sharedServer(), "sweep");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");

    SweepRig<CheckingDisplays> rig(device);

    rig.engine.cmdStart_Click();
    EXPECT_TRUE(rig.host.messages.empty()) << rig.host.messages.front();
    const std::vector<CurvePoint> points = rig.document.lastTrace();
    ASSERT_EQ(points.size(), 31u);
    // Every band against 1 kHz, both as if unbroken: the difference is the
    // detector's (within its range for each) and the loopback's own.
    double at1k = 0;
    for (const CurvePoint& p : points)
        if (p.frequency == 1000)
            at1k = p.level;
    ASSERT_EQ(rig.displays.sections.count(1000), 1u);
    const Unbroken reference = unbroken(1000, at1k, rig.displays.sections[1000]);
    const DetectorRange referenceRange = detectorRange(1000);
    for (const auto& [hz, level] : points) {
        ASSERT_EQ(rig.displays.sections.count(hz), 1u) << hz << " Hz";
        const Section& section = rig.displays.sections[hz];
        const Unbroken band = unbroken(hz, level, section);
        const DetectorRange range = detectorRange(hz);
        const double margin = LoopbackFlatnessDb + band.allowance + reference.allowance;
        const double difference = band.level - reference.level;
        EXPECT_GE(difference, dB(range.low / referenceRange.high) - margin)
            << hz << " Hz, " << section.breaks << " break(s), " << section.silent << " silent samples";
        EXPECT_LE(difference, dB(range.high / referenceRange.low) + margin)
            << hz << " Hz, " << section.breaks << " break(s), " << section.silent << " silent samples";
    }
    EXPECT_TRUE(rig.displays.wrongPeaks.empty()) << "first wrong band: " << rig.displays.wrongPeaks.front();
    EXPECT_GT(rig.session.snr(), 40);
}

TEST(LoopbackSweepTest, CommandListsTheServersDevices)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "list");
    std::ostringstream out, err;
    setenv("PULSE_SERVER", sharedServer().c_str(), 1);
    EXPECT_EQ(MeasureCommand::run({"devices"}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find(sink.name() + "  (" + sink.description() + ")"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(sink.monitor()), std::string::npos);
    EXPECT_NE(out.str().find("Record devices:"), std::string::npos);
}

TEST(LoopbackSweepTest, KilledServerEndsTheCommandWithADeviceFailure)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    const std::string command = std::string(AUDIMERA_MEASURE_PATH);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("PULSE_SERVER", server.address().c_str(), 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execl(command.c_str(), command.c_str(), "sweep", "--play", "audimera_test", "--record",
              "audimera_test.monitor", "--yes", nullptr);
        _exit(127);
    }
    // Let it calibrate and measure a point or two, then pull the server away.
    sleepMs(2500);
    server.kill();
    const auto killedAt = std::chrono::steady_clock::now();
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - killedAt < std::chrono::seconds(10))
        sleepMs(20);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killedAt).count();
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "audimera-measure still runs 10 s after the server died";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), MeasureCommand::DeviceFailure);
    EXPECT_LT(seconds, 3.0);
}

} // namespace

} // namespace audimera

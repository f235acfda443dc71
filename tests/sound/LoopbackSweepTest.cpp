// Whole measurements through a real sound server: the engine and the
// headless command on a private PulseAudio whose null sink is looped back
// through its monitor.
#include "PulseTestSupport.h"

#include "DspLibrary.h"
#include "MeasureCommand.h"
#include "MeasurementEngine.h"
#include "PanelTable.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <sstream>

namespace {

using namespace pulsetest;

class RealTimeHost : public Host {
public:
    void yield() override {}
    void sleepMs(int ms) override { pulsetest::sleepMs(ms); }
    MessageAnswer message(std::string_view text, MessageIcon, MessageButtons) override
    {
        messages.emplace_back(text);
        return MessageAnswer::Yes;
    }
    std::vector<std::string> messages;
};

// Keeps the points, and checks in every analysed section that the strongest
// of the band frequencies is the one being measured.
class CheckingDisplays : public Displays {
public:
    explicit CheckingDisplays(const MeasurementEngine*& engine) : m_engine(engine) {}
    bool AddTrace() override
    {
        points.clear();
        return true;
    }
    void AddPoint(double f, double dB) override { points.emplace_back(f, dB); }
    void TraceResponse() override {}
    int GetTraceCount() const override { return 1; }
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t* section, float*, bool) override
    {
        const MeasurementEngine& e = *m_engine;
        if (e.Calib == 0)
            return; // the calibration passes play noise
        const int length = 29999 - e.SampleStart;
        double best = 0, bestFrequency = 0;
        for (double f : FrequencyPlan::IsoBands31) {
            const double a = toneAmplitude(section, length, f);
            if (a > best) {
                best = a;
                bestFrequency = f;
            }
        }
        if (bestFrequency != e.Frequency)
            wrongPeaks.push_back(e.Frequency);
    }
    std::vector<std::pair<double, double>> points;
    std::vector<double> wrongPeaks;

private:
    const MeasurementEngine*& m_engine;
};

// The mean-magnitude level of a sine whose period is a whole number of
// samples (3150 Hz: 14, 6300 Hz: 7) varies with where the samples fall by
// -0.15 to +0.07 dB; elsewhere by about 0.04 dB at most.
double tolerance(double hz)
{
    const double samples = 44100 / hz;
    return std::abs(samples - std::round(samples)) < 1e-9 && samples < 20 ? 0.16 : 0.05;
}

TEST(LoopbackSweepTest, ThirdOctaveSweepIsFlatAndHearsEachBand)
{
    REQUIRE_PULSE_SERVER();
    ASSERT_EQ(DspLibrary::instance().require(Audidsp::programExports()), "");
    PrivateSink sink(sharedServer(), "sweep");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");

    PanelTable panel;
    RealTimeHost host;
    const MeasurementEngine* enginePointer = nullptr;
    CheckingDisplays displays(enginePointer);
    MeasurementEngine engine(panel, host, device, displays);
    enginePointer = &engine;
    Audidsp::LowPass44(0, 0, 1);
    engine.InitWhitePinkBuffers();
    panel["CheckInput"].value = 0;
    panel.select("OptionAutoSigGen", MeasurementEngine::PlanIso31, 4);

    engine.cmdStart_Click();
    EXPECT_TRUE(host.messages.empty()) << host.messages.front();
    ASSERT_EQ(displays.points.size(), 31u);
    double at1k = 0;
    for (const auto& p : displays.points)
        if (p.first == 1000)
            at1k = p.second;
    for (const auto& p : displays.points)
        EXPECT_NEAR(p.second, at1k, tolerance(p.first)) << p.first << " Hz";
    EXPECT_TRUE(displays.wrongPeaks.empty()) << "first wrong band: " << displays.wrongPeaks.front();
    EXPECT_GT(engine.SNR, 40);
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

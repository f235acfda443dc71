// The session's measurements and files on the simulated card: log sweeps as measurements, the list's
// averages and alignment, a session saved and opened again, its recovery file and unsaved-work mark.
#include "devices/SimulatedSoundCard.h"
#include "engine/RecoveryWriter.h"
#include "tests/engine/EngineFixture.h"

#include <filesystem>

namespace audimera {

struct SessionStoreTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(rig.device.initAudio().ok());
        initialiseTables(rig.session);
        settings.length = std::size_t(1) << 15, settings.gateMs = 5;
    }
    // One log sweep through chain; the new measurement's id.
    int measure(const char* chain)
    {
        std::string error;
        rig.device.setChain(*SoundChain::parse(chain, error));
        EXPECT_TRUE(rig.session.runLogSweep(settings).ok());
        return rig.session.measurements().items().back().id;
    }
    SessionRig<SimulatedSoundCard> rig{std::vector<SoundDeviceInfo>{{"out", "Card Out"}}, std::vector<SoundDeviceInfo>{{"in", "Card In"}}};
    LogSweepSettings settings;
    std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "session-store";
};

TEST_F(SessionStoreTest, LogSweepsBecomeMeasurementsWithTheirDevicesSettingsAndWholeResponse)
{
    for (const char* chain : {"gain=0", "delay=1"}) {
        const SessionMeasurement& m = rig.session.measurements().find(measure(chain))->data;
        const LogSweepResults& r = rig.session.lastLogSweep()->results;
        EXPECT_EQ(m.kind + "|" + m.name.substr(0, 10) + "|" + m.playDevice + "|" + m.recordDevice,
                  "logsweep|Log sweep |Card Out|Card In");
        EXPECT_TRUE(m.playRate == rig.device.outputDeviceRate() && m.rate == r.rate);
        EXPECT_NE(m.settingsJson.find("\"length\":32768,\"lengthSeconds\":0.0,\"levelDb\":-6.0"), std::string::npos)
            << m.settingsJson;
        EXPECT_NEAR(m.delayMs, r.delaySeconds() * 1000, 1e-9);
        // Ungated and whole: longer than the sweep, the gated segment within it.
        EXPECT_GT(m.impulse.size(), settings.length);
        EXPECT_GT(m.impulse.size(), 4 * r.impulse.size());
    }
    EXPECT_EQ(rig.session.measurements().items().size(), 2u);
}

TEST_F(SessionStoreTest, TheListAveragesAndAlignsWithoutTouchingTheRecordings)
{
    const int straight = measure("gain=0"), late = measure("delay=1");
    MeasurementList& list = rig.session.measurements();
    const std::vector<float> recording = list.find(late)->data.impulse;
    ASSERT_TRUE(list.align(straight, {straight, late}).ok());
    EXPECT_EQ(list.find(straight)->data.alignMs, 0);
    EXPECT_NEAR(list.find(late)->data.alignMs, -1.0, 0.01);
    EXPECT_EQ(list.find(late)->data.impulse, recording); // never shifted itself
    EXPECT_FALSE(list.average({straight}, AverageMode::Rms, false).ok());
    const struct { AverageMode mode; bool align; const char* name; } modes[] = {
        {AverageMode::Rms, false, "rms"}, {AverageMode::Db, false, "db"},
        {AverageMode::Vector, false, "vector"}, {AverageMode::Vector, true, "vector aligned"}};
    for (const auto& c : modes) {
        const Result<int> id = list.average({straight, late}, c.mode, c.align);
        ASSERT_TRUE(id.ok()) << id.message();
        const SessionMeasurement& a = list.find(*id)->data;
        EXPECT_EQ(a.kind + "|" + a.averageMode + "|" + a.name, std::string("average|") + c.name + "|Average of 2 (" + c.name + ")");
        EXPECT_TRUE(a.averageOf == 2 && a.rate == list.find(straight)->data.rate);
    }
}

TEST_F(SessionStoreTest, AReferenceTakesTheStreamsStartOutOfTheDelays)
{
    // The second sweep's streams start 300 frames later, as a busy server's
    // can: with a loopback reference the list reads the device alone.
    const struct { LogSweepSettings::Reference reference; double delayMs; bool flagged; } cases[] = {
        {LogSweepSettings::Reference::Right, 0.0, false},
        {LogSweepSettings::Reference::None, 300 / 44.1, true},
    };
    for (const auto& c : cases) {
        settings.reference = c.reference;
        rig.device.setDuplexLatency(SimulatedSoundCard::DuplexLatencyFrames);
        const int first = measure("delay=1");
        rig.device.setDuplexLatency(SimulatedSoundCard::DuplexLatencyFrames + 300);
        const int second = measure("delay=1");
        const MeasurementList& list = rig.session.measurements();
        const Result<std::vector<Alignment>> d = list.delays(first, {second});
        ASSERT_TRUE(d.ok()) << d.message();
        EXPECT_NEAR(d->front().delayMs, c.delayMs, 1e-3);
        EXPECT_EQ(list.timingCaveat(first, {second}).empty(), !c.flagged);
    }
}

TEST_F(SessionStoreTest, ASavedSessionOpensAsItWasAndTheRecoveryFileFollowsTheChanges)
{
    std::filesystem::create_directories(folder);
    const std::string recovery = (folder / "recovery.audimera").string(), saved = (folder / "saved.audimera").string();
    rig.session.setRecoveryFile(recovery);
    EXPECT_FALSE(rig.session.unsavedWork());
    Result<std::vector<std::string>> during = std::vector<std::string>{};
    rig.host.atYield(1, [&] { during = rig.session.openSession(saved); });
    const int id = measure("delay=1");
    EXPECT_EQ(during.kind(), Failure::Busy);
    rig.session.flushRecovery(); // written on the writer's thread
    EXPECT_TRUE(rig.session.unsavedWork() && std::filesystem::exists(recovery));
    ASSERT_TRUE(rig.session.addTrace(rig.session.lastLogSweep()->results.response, "Log sweep").ok());
    rig.session.traceNotes()[0].offsetDb = 3;
    ASSERT_TRUE(rig.session.measurements().rename(id, "Mic A").ok());
    ASSERT_TRUE(rig.session.saveSession(saved).ok());
    EXPECT_FALSE(rig.session.unsavedWork() || std::filesystem::exists(recovery));
    const SessionData before = rig.session.sessionData();
    rig.session.clearTraces();
    ASSERT_TRUE(rig.session.measurements().rename(id, "Mic B").ok());
    rig.session.keepRecovery();
    rig.session.flushRecovery();
    EXPECT_TRUE(rig.session.unsavedWork() && std::filesystem::exists(recovery));
    EXPECT_FALSE(rig.session.openSession((folder / "none.audimera").string()).ok());
    EXPECT_EQ(rig.session.measurements().find(id)->data.name, "Mic B");
    EXPECT_TRUE(rig.session.document().traces().GetTraceCount() == 0 && rig.session.unsavedWork());
    ASSERT_TRUE(rig.session.openSession(saved).ok());
    EXPECT_FALSE(rig.session.unsavedWork());
    const SessionData after = rig.session.sessionData();
    ASSERT_EQ(after.traces.size(), 1u);
    const SessionTrace &t0 = before.traces[0], &t1 = after.traces[0];
    EXPECT_EQ(t1.name + "|" + t1.scale + "|" + std::to_string(t1.offsetDb), "Log sweep|dB re the played level|3.000000");
    ASSERT_EQ(t1.levelsDb.size(), t0.levelsDb.size());
    for (std::size_t i = 0; i < t0.levelsDb.size(); ++i)
        EXPECT_TRUE(std::abs(t1.frequencies[i] / t0.frequencies[i] - 1) < 1e-12 && std::abs(t1.levelsDb[i] - t0.levelsDb[i]) < 1e-9) << i;
    ASSERT_EQ(after.measurements.size(), 1u);
    const SessionMeasurement &m0 = before.measurements[0], &m1 = after.measurements[0];
    EXPECT_EQ(m1.name + m1.settingsJson + m1.playDevice + m1.date, m0.name + m0.settingsJson + m0.playDevice + m0.date);
    EXPECT_TRUE(m1.impulse == m0.impulse && m1.delayMs == m0.delayMs);
}

TEST_F(SessionStoreTest, AMeasurementShownOrAddedIsItsOwnAndTheTraceNotesReachThePlot)
{
    const int straight = measure("gain=0"), late = measure("gain=-6,delay=1");
    EXPECT_EQ(rig.session.lastLogSweep()->measurement, late);
    ASSERT_TRUE(rig.session.showMeasurement(straight, settings).ok());
    const LogSweepRun& shown = *rig.session.lastLogSweep();
    EXPECT_EQ(shown.measurement, straight);
    // Its own response, read again from its impulse response: 0 dB at 1 kHz.
    const auto levelAt = [](const std::vector<ResponsePoint>& r, double hz) {
        return std::min_element(r.begin(), r.end(), [&](auto& a, auto& b) {
                   return std::abs(a.frequency - hz) < std::abs(b.frequency - hz);
               })->level;
    };
    EXPECT_NEAR(levelAt(shown.results.response, 1000), 0, 0.05);
    EXPECT_TRUE(rig.session.reanalyseLogSweep(settings).ok());
    EXPECT_EQ(rig.session.showMeasurement(99, settings).kind(), Failure::BadInput);

    ASSERT_TRUE(rig.session.addMeasurementTraces({straight, late}, settings).ok());
    std::vector<SessionTrace>& notes = rig.session.traceNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].name, rig.session.measurements().find(late)->data.name);
    // Normalised at 1 kHz: each offset undoes its level there.
    ASSERT_TRUE(rig.session.normaliseTraces(1000).ok());
    EXPECT_NEAR(notes[0].offsetDb, 0, 0.05);
    EXPECT_NEAR(notes[1].offsetDb, 6, 0.05);
    EXPECT_EQ(rig.session.normaliseTraces(1e6).kind(), Failure::BadInput);
    SessionTrace hidden = notes[0];
    hidden.name = "Straight", hidden.offsetDb = -3, hidden.shown = false;
    ASSERT_TRUE(rig.session.setTraceNote(0, hidden).ok());
    const PlotSettings& plot = rig.session.document().plot();
    EXPECT_TRUE(plot.traceOffsetDb[0] == -3 && !plot.traceShown[0] && plot.traceShown[1]);
    EXPECT_EQ(rig.session.document().traceName(0), "Straight");
    hidden.offsetDb = std::nan("");
    EXPECT_EQ(rig.session.setTraceNote(0, hidden).kind(), Failure::BadInput);
    EXPECT_EQ(rig.session.setTraceNote(2, hidden).kind(), Failure::BadInput);
    // Cleared traces leave no offsets behind for the next ones.
    rig.session.clearTraces();
    EXPECT_TRUE(plot.traceOffsetDb[0] == 0 && plot.traceShown[0]);
}

TEST_F(SessionStoreTest, TracesAverageAsDrawnOverTheRangeTheyShare)
{
    const auto flat = [](double db, double from, double to) {
        std::vector<ResponsePoint> points;
        for (double f = from; f <= to * 1.0001; f *= 1.25)
            points.push_back({f, db, std::nullopt});
        return points;
    };
    ASSERT_TRUE(rig.session.addTrace(flat(6, 20, 20000), "plus").ok());
    ASSERT_TRUE(rig.session.addTrace(flat(-9, 100, 10000), "minus").ok());
    rig.session.traceNotes()[1].offsetDb = 3; // drawn at -6 dB
    const struct { AverageMode mode; double db; } cases[] = {{AverageMode::Rms, 10 * std::log10((std::pow(10, 0.6) + std::pow(10, -0.6)) / 2)}, {AverageMode::Db, 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(rig.session.averageTraces({0, 1}, c.mode).ok());
        const std::vector<ResponsePoint> avg = rig.session.document().lastResponse();
        ASSERT_FALSE(avg.empty());
        EXPECT_TRUE(avg.front().frequency >= 100 && avg.back().frequency <= 10000.01);
        for (const ResponsePoint& p : avg)
            EXPECT_NEAR(p.level, c.db, 0.005) << p.frequency;
    }
    EXPECT_EQ(rig.session.traceNotes()[2].name, "Average of 2 traces (rms)");
    EXPECT_EQ(rig.session.traceNotes()[2].scale, MeasurementSession::LogSweepScale);
    EXPECT_EQ(rig.session.averageTraces({0, 1}, AverageMode::Vector).kind(), Failure::BadInput);
    EXPECT_EQ(rig.session.averageTraces({0}, AverageMode::Rms).kind(), Failure::BadInput);
}

TEST(RecoveryClaimTest, TwoProgramsAtOnceEachHoldTheirOwnFile)
{
    const std::string first = (std::filesystem::path(testing::TempDir()) / "claims" / "recovery.audimera").string();
    std::unique_ptr<RecoveryClaim> a = RecoveryClaim::claim(first), b = RecoveryClaim::claim(first);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->path(), first);
    EXPECT_EQ(std::filesystem::path(b->path()).filename(), "recovery-2.audimera");
    a.reset(); // released: the next program takes the first again
    EXPECT_EQ(RecoveryClaim::claim(first)->path(), first);
}

} // namespace audimera

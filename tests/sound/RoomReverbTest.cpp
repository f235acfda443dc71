// Room figures of a real run: a log sweep through the private server's
// LADSPA reverb (swh-plugins' gverb) in front of a null sink, written with
// --ir and --room, and 'room' on that impulse response file. About 3.5 s in
// real time.
#include "tests/sound/LadspaFilter.h"
#include "tests/sound/PulseTestSupport.h"

#include "cli/MeasureCommand.h"
#include "engine/RoomReport.h"
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <sstream>

namespace audimera {

namespace {

using namespace pulsetest;

// gverb's controls, in its port order. A short reverb: the log sweep
// records LogSweepSettings::TailSeconds (0.4 s) after the sweep ends. The
// dry sound marks the start; no early reflections, the tail 3 dB under the
// dry sound, so that the decay is one slope with a peak-to-noise ratio far
// over 45 dB. Its bands' delays step by 30 ms at 630 Hz, which the check for
// lost sound must not take for a skip (SweepDropout's timing step judges
// only a response whose energy arrives at once).
struct Reverb {
    double roomMetres = 5;
    double reverbSeconds = 0.3;
    double damping = 0.5;
    double inputBandwidth = 0.75;
    double dryDb = -3;
    double earlyDb = -70;
    double tailDb = -6;
    std::string control() const
    {
        std::ostringstream text;
        text << roomMetres << ',' << reverbSeconds << ',' << damping << ',' << inputBandwidth << ',' << dryDb << ','
             << earlyDb << ',' << tailDb;
        return text.str();
    }
};

// The broadband row's T30 (s) and flags in a room CSV.
struct BroadbandT30 {
    double seconds = 0;
    std::string flags;
};

BroadbandT30 broadbandT30(const std::string& csv)
{
    std::istringstream in(csv);
    std::string header, row;
    std::getline(in, header);
    std::getline(in, row);
    std::vector<std::string> cells;
    std::istringstream fields(row.substr(0, row.find('\r')));
    for (std::string cell; std::getline(fields, cell, ',');)
        cells.push_back(cell);
    if (cells.size() < 4 || cells[0] != "0" || cells[3].empty())
        return {};
    return {std::stod(cells[3]), cells.size() > 11 ? cells[11] : ""};
}

TEST(RoomReverbTest, TheLogSweepsRoomFiguresAreThoseOfItsImpulseResponseFile)
{
    REQUIRE_PULSE_SERVER();
    constexpr const char* Plugin = "/usr/lib/ladspa/gverb_1216.so";
    if (access(Plugin, R_OK) != 0)
        GTEST_SKIP() << "the LADSPA plugin " << Plugin << " is not installed (swh-plugins)";
    const Reverb reverb;
    PrivateSink sink(sharedServer(), "room");
    FilterSink hall(sharedServer(), sink.name(), sink.name() + "_gverb", "gverb_1216", "gverb", reverb.control());
    ASSERT_TRUE(hall.loaded());
    setenv("PULSE_SERVER", sharedServer().c_str(), 1);

    TestFolder folder;
    const std::string ir = folder.file("ir.wav"), measured = folder.file("measured.csv"),
                      read = folder.file("read.csv");
    const Outcome run = measure({"logsweep", "--play", hall.name(), "--record", sink.monitor(), "--length", "131072",
                                 "--volume", "-12", "--ir", ir, "--room", measured, "--out", folder.file("curve.txt")});
    ASSERT_EQ(run.code, MeasureCommand::Measured) << run.err;
    const Outcome room = measure({"room", ir, "--csv", read});
    ASSERT_EQ(room.code, MeasureCommand::Measured) << room.err;

    const BroadbandT30 fromRun = broadbandT30(slurp(measured)), fromFile = broadbandT30(slurp(read));
    ASSERT_GT(fromRun.seconds, 0) << slurp(measured);
    EXPECT_NEAR(fromFile.seconds, fromRun.seconds, 0.01 * fromRun.seconds);
    EXPECT_EQ(fromRun.flags.find("t30:"), std::string::npos) << fromRun.flags;
    std::printf("[ figures  ] gverb room %g m, reverb time %g s, damping %g, input bandwidth %g, dry %g dB, "
                "early %g dB, tail %g dB: broadband T30 %.3f s (logsweep --room), %.3f s (room on the --ir file)\n%s",
                reverb.roomMetres, reverb.reverbSeconds, reverb.damping, reverb.inputBandwidth, reverb.dryDb,
                reverb.earlyDb, reverb.tailDb, fromRun.seconds, fromFile.seconds, room.out.c_str());
}

} // namespace

} // namespace audimera

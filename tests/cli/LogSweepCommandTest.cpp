#include "cli/MeasureCommand.h"
#include "tests/cli/CommandRun.h"
#include "curves/CurveFile.h"
#include "devices/SoundChain.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <QImage>

#include <cmath>
#include <fstream>
#include <sstream>

namespace audimera {

namespace {

Outcome logsweep(std::vector<std::string> options)
{
    options.insert(options.begin(), "logsweep");
    return measure(options);
}

std::vector<std::string> lines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
    }
    return result;
}

TEST(LogSweepCommandTest, BadArgumentsEndWithUsage)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--simulate", "", "--length", "1000"},
             {"--simulate", "", "--length", "2000000"},
             {"--simulate", "", "--length", "2^16"},
             {"--simulate", "", "--length", "6x"},
             {"--simulate", "", "--length", "100s"},
             {"--simulate", "", "--range", "5", "20000"},
             {"--simulate", "", "--range", "20", "30000"},
             {"--simulate", "", "--range", "1000", "100"},
             {"--simulate", "", "--range", "20"},
             {"--simulate", "", "--length", "32768", "--range", "10", "20000"},
             {"--simulate", "", "--volume", "1"},
             {"--simulate", "", "--volume", "-200"},
             {"--simulate", "", "--reference", "both"},
             {"--simulate", "", "--smooth", "2"},
             {"--simulate", "", "--points-per-octave", "0"},
             {"--simulate", "", "--window", "-3"},
             {"--simulate", "", "--out"},
             {"--simulate", "", "--ir", ""},
             {"--simulate", "", "--bogus"},
             {"--simulate", "bogus=1"},
             {"--simulate", "", "--channel", "both"},
             {"--simulate", "", "--reference", "left", "--channel", "left"},
             {"--simulate", "input=both"},
             {"--simulate", "", "--phase-ref", "middle"},
             {"--simulate", "", "--phase-ref", "20000"},
             {"--simulate", "", "--room-bands", "fifth"},
             {"--simulate", "", "--room"},
         }) {
        const Outcome r = logsweep(args);
        EXPECT_EQ(r.code, MeasureCommand::BadUsage) << args[2] << ' ' << (args.size() > 3 ? args[3] : "");
        EXPECT_NE(r.err.find("audimera-measure: "), std::string::npos) << r.err;
    }
    const Outcome help = logsweep({"--help"});
    EXPECT_EQ(help.code, MeasureCommand::Measured);
    EXPECT_NE(help.out.find("audimera-measure logsweep"), std::string::npos);
}

// A length in seconds: the power of two nearest it at 44100 Hz.
TEST(LogSweepCommandTest, LengthInSecondsIsThePowerOfTwoNearestIt)
{
    for (const auto& [length, played] : std::vector<std::pair<std::string, std::string>>{
             {"6s", "262144 samples"}, {"0.75s", "32768 samples"}, {"1.2s", "65536 samples"}, {"65536", "65536 samples"}}) {
        const Outcome r = logsweep({"--simulate", "", "--length", length, "--points-per-octave", "1"});
        EXPECT_EQ(r.code, MeasureCommand::Measured) << length << ": " << r.err;
        EXPECT_NE(r.err.find("Log sweep: " + played), std::string::npos) << length << ": " << r.err;
    }
}

// --phase-ref: its rule and delay in the summary and the FRD header (the
// simulated card's latency is 256 samples, 5.805 ms).
TEST(LogSweepCommandTest, ThePhaseReferenceIsChosenAndWrittenInTheFrdHeader)
{
    TestFolder folder;
    const std::string frd = folder.file("response.frd");
    for (const auto& [rule, line] : std::vector<std::pair<std::string, std::string>>{
             {"auto", "Phase reference: auto (best fit to the minimum phase), delay 5.8050 ms (256.00 samples)"},
             {"peak", "Phase reference: peak (the impulse response's peak), delay 5.8"},
             {"reference", "Phase reference: auto (best fit to the minimum phase), delay 5.8050 ms (256.00 samples); "
                           "no reference channel, so auto"},
             {"2.5", "Phase reference: fixed delay, delay 2.5000 ms (110.25 samples)"}}) {
        const Outcome r = logsweep({"--simulate", "lowpass2=2000", "--length", "32768", "--points-per-octave", "1",
                                    "--phase-ref", rule, "--frd", frd});
        ASSERT_EQ(r.code, MeasureCommand::Measured) << rule << ": " << r.err;
        EXPECT_NE(r.err.find(line), std::string::npos) << rule << ": " << r.err;
        std::string header;
        for (const std::string& l : lines(frd))
            header += l + '\n';
        EXPECT_NE(header.find("* " + line), std::string::npos) << rule << ": " << header.substr(0, 400);
    }
}

// A perfect simulated loopback: every file the command writes, read back.
TEST(LogSweepCommandTest, WritesCurveFrdImpulseDistortionAndPicture)
{
    TestFolder folder;
    const std::string curve = folder.file("curve.txt"), frd = folder.file("response.frd"),
                      ir = folder.file("ir.wav"), distortion = folder.file("distortion.csv"),
                      png = folder.file("response.png"), room = folder.file("room.csv");
    const Outcome r = logsweep({"--simulate", "", "--length", "32768", "--points-per-octave", "12", "--out", curve,
                                "--frd", frd, "--ir", ir, "--distortion", distortion, "--png", png, "--room", room,
                                "--room-bands", "third"});
    ASSERT_EQ(r.code, MeasureCommand::Measured) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("Delay 5.805 ms (256.00 samples)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("s left"), std::string::npos);
    EXPECT_NE(r.err.find("no clipping"), std::string::npos);

    std::vector<CurvePoint> points;
    ASSERT_TRUE(CurveFile::read(curve, 22051, points).ok());
    ASSERT_EQ(points.size(), 121u); // 10 octaves at 12 a octave, both ends
    EXPECT_EQ(points.front().frequency, 20);
    EXPECT_EQ(points.back().frequency, 20000);
    for (const CurvePoint& p : points)
        EXPECT_NEAR(p.level, 0, 0.02) << p.frequency;

    const std::vector<std::string> frdLines = lines(frd);
    ASSERT_GT(frdLines.size(), 121u);
    std::size_t records = 0;
    for (const std::string& line : frdLines) {
        if (line.rfind("*", 0) == 0)
            continue;
        std::istringstream fields(line);
        double f = 0, level = 1, phase = 1;
        ASSERT_TRUE(fields >> f >> level >> phase) << line;
        EXPECT_NEAR(level, 0, 0.02);
        EXPECT_NEAR(phase, 0, 1);
        ++records;
    }
    EXPECT_EQ(records, 121u);

    SF_INFO info{};
    SNDFILE* wav = sf_open(ir.c_str(), SFM_READ, &info);
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    EXPECT_EQ(sf_readf_float(wav, samples.data(), info.frames), info.frames);
    sf_close(wav);
    const auto peak = std::max_element(samples.begin(), samples.end(),
                                       [](float a, float b) { return std::abs(a) < std::abs(b); });
    EXPECT_GT(*peak, 0.5f);
    const std::string peakAt = "peak at sample " + std::to_string(peak - samples.begin());
    EXPECT_NE(r.err.find(peakAt), std::string::npos) << r.err;

    const std::vector<std::string> table = lines(distortion);
    ASSERT_EQ(table.size(), 122u);
    EXPECT_EQ(table[0], "frequency_hz,h2_db,h3_db,h4_db,h5_db,thd_percent");
    // Above a fifth of the rate no harmonic fits below half of it.
    EXPECT_EQ(table.back(), "20000,,,,,");

    // The room figures of the same response, as 'room' gives them.
    const std::vector<std::string> figures = lines(room);
    ASSERT_EQ(figures.size(), 1u + 1u + 24u); // header, broadband, 50 Hz to 10 kHz
    EXPECT_EQ(figures[0], "band_hz,edt_s,t20_s,t30_s,c50_db,c80_db,d50,ts_ms,r_t20,r_t30,pnr_db,flags");
    const std::string again = folder.file("again.csv");
    ASSERT_EQ(measure({"room", ir, "--bands", "third", "--csv", again}).code, MeasureCommand::Measured);
    EXPECT_EQ(slurp(again), slurp(room));

    const QImage picture(QString::fromStdString(png));
    EXPECT_EQ(picture.width(), 792);
    EXPECT_EQ(picture.height(), 2 * 211);
}

TEST(LogSweepCommandTest, SimulatedDistortionNoiseAndReference)
{
    // 2nd harmonic of A2 a^2 / 2 over a fundamental of a + 3 A3 a^3 / 4.
    const double a = std::pow(10, -6 / 20.0);
    const double h2 = 20 * std::log10(0.1 * a * a / 2 / (a + 0.75 * 0.05 * a * a * a));
    TestFolder folder;
    const std::string distortion = folder.file("d.csv");
    Outcome r = logsweep({"--simulate", "poly=0.1,0.05", "--length", "65536", "--points-per-octave", "3",
                          "--distortion", distortion});
    ASSERT_EQ(r.code, MeasureCommand::Measured) << r.err;
    // H2 wherever it is reported from 50 Hz (to 10 kHz), THD (2.502 %)
    // wherever it is: the simulated distortion is band-limited.
    const double thd = 100 * std::hypot(0.1 * a * a / 2, 0.05 * a * a * a / 4) / (a + 0.75 * 0.05 * a * a * a);
    int checked = 0;
    for (const std::string& row : lines(distortion)) {
        double f = 0, level = 0;
        char comma = 0;
        std::istringstream fields(row);
        if (!(fields >> f >> comma >> level) || f < 50)
            continue;
        EXPECT_NEAR(level, h2, 0.05) << row;
        if (const std::size_t last = row.rfind(','); last + 1 < row.size()) {
            EXPECT_NEAR(std::stod(row.substr(last + 1)), thd, 0.01) << row;
        }
        ++checked;
    }
    EXPECT_GE(checked, 23); // 50 Hz to 10 kHz at 3 an octave

    // Noise at -60 dB re full scale; the curve on standard output.
    r = logsweep({"--simulate", "noise=-60", "--length", "65536", "--points-per-octave", "6"});
    ASSERT_EQ(r.code, MeasureCommand::Measured) << r.err;
    std::istringstream out(r.out);
    int points = 0;
    for (std::string line; std::getline(out, line); ++points) {
        const double f = std::stod(line), level = std::stod(line.substr(line.find(',') + 1));
        if (f >= 50 && f <= 10000) {
            EXPECT_NEAR(level, 0, 0.1) << line;
        }
    }
    EXPECT_EQ(points, 61);

    // The measured channel through a filter, the reference straight: the
    // filter comes out.
    r = logsweep({"--simulate", "highpass2=100", "--reference", "left", "--length", "65536", "--points-per-octave",
                  "1", "--range", "100", "12800"});
    ASSERT_EQ(r.code, MeasureCommand::Measured) << r.err;
    EXPECT_NE(r.err.find("re the reference"), std::string::npos);
    EXPECT_NE(r.out.find("100,-3.0"), std::string::npos) << r.out;
}

// The simulated card's filters at the default length: within 0.05 dB of
// their exact magnitude from 20 Hz to 20 kHz.
TEST(LogSweepCommandTest, SimulatedFiltersMatchTheirExactMagnitude)
{
    for (const std::string chainText : {"highpass2=50,lowpass2=5000", "gain=-10,highpass=200,lowpass=12000"}) {
        const Outcome r = logsweep({"--simulate", chainText, "--points-per-octave", "6"});
        ASSERT_EQ(r.code, MeasureCommand::Measured) << r.err;
        std::string error;
        const std::optional<SoundChain> chain = SoundChain::parse(chainText, error);
        ASSERT_TRUE(chain) << error;
        std::istringstream out(r.out);
        int points = 0;
        for (std::string line; std::getline(out, line); ++points) {
            const double f = std::stod(line), level = std::stod(line.substr(line.find(',') + 1));
            EXPECT_NEAR(level, chain->magnitudeDb(f), 0.05) << chainText << ": " << line;
        }
        EXPECT_EQ(points, 61);
    }
}

TEST(LogSweepCommandTest, FailuresHaveTheirOwnExitCodes)
{
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    for (const Case& c : {
             Case{{"--simulate", "silence"}, MeasureCommand::LowSignal, "No sweep came back"},
             Case{{"--simulate", "gain=12"}, MeasureCommand::Clipped, "clips"},
             Case{{"--simulate", "gain=0.5", "--volume", "0"}, MeasureCommand::Clipped, "clips"},
             Case{{"--simulate", "clip=0.9"}, MeasureCommand::Clipped, "clips"}, // below the rails
             Case{{"--simulate", "clip=14000"}, MeasureCommand::Clipped, "clips"},
             Case{{"--simulate", "clip=29491", "--volume", "0"}, MeasureCommand::Clipped, "clips"},
             Case{{"--simulate", "refchannel=none", "--reference", "right"}, MeasureCommand::LowSignal,
                  "reference channel (right) carries nothing"},
             Case{{"--simulate", "delay=600"}, MeasureCommand::LowSignal, "too late"},
         }) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--length", "32768"});
        const Outcome r = logsweep(args);
        EXPECT_EQ(r.code, c.code) << c.args[1];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    // A perfect path at full scale reaches the rails at the crests but does
    // not clip; nor do clean chains have flat tops.
    for (const auto& [chain, volume] : std::vector<std::pair<std::string, std::string>>{
             {"", "0"}, {"", "-6"}, {"poly=0.1,0.05", "-6"}, {"highpass2=50,lowpass2=5000", "-6"}, {"clip=29491", "-6"}})
        EXPECT_EQ(logsweep({"--simulate", chain, "--volume", volume, "--length", "32768"}).code, 0) << chain;
    TestFolder folder;
    const Outcome r = logsweep({"--simulate", "", "--length", "32768", "--ir", folder.path() + "/no/such/ir.wav"});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Error saving file '"), std::string::npos) << r.err;
}

} // namespace

} // namespace audimera

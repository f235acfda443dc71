// Reference runs on the simulated card whose every number must stay the
// same, bit for bit, as long as the measurements are meant to give the same
// results: the stepped sweep with each detector, the log sweep, and the
// continuous signal's read-outs. Each run's output (exit code, standard
// output, standard error, the files written) is compared byte for byte with
// tests/cli/golden/NAME.txt.
//
// The files the command writes print numbers in the shortest form that reads
// back to the same double, so their text is the numbers' bits. The signal's
// read-outs are printed both as %.17g and as hexadecimal floats; the impulse
// response WAV's samples and the recorded and transformed blocks, as sizes
// and FNV-1a digests.
//
// Bits depend on the platform as well as on the code: glibc picks its
// exp, log, sin... by the processor's features, FFTW its kernels. The
// golden files hold the platform's own fingerprint (platform.txt: the bits
// of a fixed set of libm calls and FFTs). Where the fingerprint is the same,
// the comparison is byte for byte; elsewhere it is number by number, each
// within 1e-9 relative or one unit of its last printed digit, digests
// skipped, and the test says so.
//
// To regenerate after an intended change of results only (never to make a
// failure go away):
//   AUDIMERA_UPDATE_GOLDEN=1 build/bin/cli_tests --gtest_filter='*GoldenRun*'
// then review the difference with git diff tests/cli/golden.
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include "display/models/AudioFFT.h"
#include "dsp/DspLibrary.h"
#include "engine/MeasurementSession.h"
#include "signal/RealFft.h"
#include "devices/SimulatedSoundCard.h"

#include <gtest/gtest.h>

#include <fftw3.h>
#include <gnu/libc-version.h>
#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

namespace audimera {

namespace {

const std::string GoldenFolder = AUDIMERA_GOLDEN_DIR "/";

uint64_t fnv1a(const void* data, size_t bytes, uint64_t hash = 14695981039346656037ull)
{
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i)
        hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

std::string digest(const void* data, size_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "%zu bytes, fnv1a64 %016" PRIx64, bytes, fnv1a(data, bytes));
    return text;
}

// A double as %.17g and as its bits.
std::string exact(double x)
{
    char text[80];
    std::snprintf(text, sizeof text, "%.17g (%a)", x, x);
    return text;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// A WAV file's format and the digest of its samples as read back. Its
// bytes are not compared: libsndfile stamps the time into a float file.
std::string wavSamples(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return "unreadable";
    std::vector<float> samples(size_t(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return std::to_string(read) + " frames, " + std::to_string(info.channels) + " channels, " +
           std::to_string(info.samplerate) + " Hz, format " + std::to_string(info.format) + ", samples " +
           digest(samples.data(), sizeof(float) * samples.size());
}

// One reference run: a command line, or the continuous signal through the
// engine when args is empty.
struct GoldenRun {
    const char* name;
    // "{dir}" stands for the run's own folder.
    std::vector<std::string> args;
    // Written into the folder and dumped: text as it is, .wav as a digest.
    std::vector<std::string> files;
    // The continuous signal: the chain, what plays, the detector.
    const char* chain = "";
    SignalChoice choice{};
    LevelDetector detector = LevelDetector::MeanMagnitude;
    // Chosen while the signal plays, after the second measured block.
    std::optional<SignalChoice> then{};
};

void PrintTo(const GoldenRun& run, std::ostream* out)
{
    *out << run.name;
}

std::string commandRun(const GoldenRun& run, const std::string& dir)
{
    std::vector<std::string> args;
    for (const std::string& a : run.args)
        args.push_back(replaceAll(a, "{dir}", dir));
    const Outcome r = measure(args);
    std::string text = "exit " + std::to_string(r.code) + "\n--- stdout\n" + r.out + "--- stderr\n" +
                       replaceAll(r.err, dir, "{dir}");
    for (const std::string& name : run.files) {
        if (name.ends_with(".wav"))
            text += "--- file " + name + ": " + wavSamples(dir + "/" + name) + "\n";
        else
            text += "--- file " + name + "\n" + slurp(dir + "/" + name);
    }
    return text;
}

// What the signal reports to whoever shows it, as text (only what is seen
// outside the core, so that the text outlives changes of its insides);
// stops the signal after three measured blocks, as Stop Signal would.
class SignalLog : public SessionObserver, public Host {
public:
    explicit SignalLog(const GoldenRun& run) : m_choice(run.choice), m_then(run.then) {}
    MeasurementSession* session = nullptr;

    std::ostringstream text;

    bool measuresBadBlocksAgain() const override { return true; }
    bool showsWaveform() const override { return true; }
    bool showsSpectrum() const override { return true; }
    double stepFactor() const override { return 1.26; }
    SignalChoice signalChoice() override { return m_choice; }
    audimera::Status openTrace() override { return {}; }
    void pointMeasured(double, double, double) override { text << "unexpected point\n"; }
    void playing(Sound sound, double frequency) override
    {
        static const char* const names[] = {"silence", "white noise", "pink noise", "tone"};
        text << "playing " << names[int(sound)] << " at " << exact(frequency) << '\n';
    }
    void calibrationMeasured(double snr) override { text << "calibration snr " << exact(snr) << '\n'; }
    void distortionMeasured(double frequency, const Distortion& d) override
    {
        text << "distortion at " << exact(frequency) << '\n';
        for (const std::optional<double>& h : d.harmonicDb)
            text << "  h " << (h ? exact(*h) : "none") << '\n';
        text << "  thd " << (d.thdPercent ? exact(*d.thdPercent) : "none") << '\n';
        text << "  thd+n " << (d.thdNoisePercent ? exact(*d.thdNoisePercent) : "none") << '\n';
    }
    void levelMeasured(double level, double snr) override
    {
        text << "level " << exact(level) << " snr " << exact(snr) << '\n';
        if (++m_levels == 3)
            session->stop();
    }
    void DrawCurve(int width, int height, const int16_t* rec, int first, bool sat, int off) override
    {
        text << "waveform " << width << ' ' << height << ' ' << first << ' ' << sat << ' ' << off << ", block "
             << digest(rec, sizeof(int16_t) * (RecordSamples + 1)) << '\n';
    }
    void TraceFFT(const int16_t* in, float* out, bool sat) override
    {
        m_fft.ComputeFFT(in, out);
        text << "spectrum " << sat << ", input " << digest(in, sizeof(int16_t) * AudioFFT::Size) << ", real "
             << digest(out, sizeof(float) * AudioFFT::Size) << ", imaginary "
             << digest(m_fft.imaginary(), sizeof(float) * AudioFFT::Size) << '\n';
    }

    // The user picks another signal while it plays: applied as the choice's handler does.
    void yield() override
    {
        if (m_levels == 2 && m_then) {
            m_choice = *m_then;
            m_then.reset();
            session->applySignal();
        }
    }
    void sleepMs(int) override {}
    MessageAnswer message(std::string_view message, MessageIcon, MessageButtons) override
    {
        text << "message " << message << '\n';
        return MessageAnswer::Yes;
    }

private:
    SignalChoice m_choice;
    std::optional<SignalChoice> m_then;
    AudioFFT m_fft;
    int m_levels = 0;
};

std::string signalRun(const GoldenRun& run, const std::string&)
{
    std::string error;
    std::optional<SoundChain> chain = SoundChain::parse(run.chain, error);
    if (!chain)
        return error;
    SimulatedSoundCard card;
    (void)card.initAudio();
    card.setChain(std::move(*chain));
    SignalLog log(run);
    MeasurementDocument document;
    MeasurementSession session(log, card, document);
    session.initialiseTables();
    session.setObserver(&log);
    log.session = &session;
    session.choose(run.choice.kind);
    SignalSettings settings;
    settings.detector = run.detector;
    (void)session.runSignal(settings);
    return log.text.str();
}

// The bits this platform's libm and FFTW give for fixed arguments, as a
// digest, with what it runs on for the reader.
std::string platformFingerprint()
{
    uint64_t hash = fnv1a(nullptr, 0);
    auto add = [&](auto x) { hash = fnv1a(&x, sizeof x, hash); };
    for (int i = 1; i <= 2000; ++i) {
        const double x = i * 0.0123456789;
        add(std::exp(x / 40)), add(std::log(x)), add(std::log10(x)), add(std::sin(x)), add(std::cos(x));
        add(std::tan(x)), add(std::atan2(x, 7.0)), add(std::pow(x, 1.7)), add(std::exp2(x / 40));
        const float f = float(x);
        add(std::exp(f / 40)), add(std::log(f)), add(std::log10(f)), add(std::sin(f)), add(std::cos(f));
        add(std::pow(f, 1.7f));
    }
    for (const size_t n : {size_t(4096), size_t(3 * 7 * 5 * 512), size_t(131072)}) {
        RealFft fft(n);
        for (size_t i = 0; i < n; ++i)
            fft.time()[i] = std::sin(1e-5 * double(i) * double(i)) + 1e-3 * double(i % 7);
        fft.forward();
        hash = fnv1a(fft.spectrum(), fft.bins() * sizeof(std::complex<double>), hash);
    }
    char text[200];
    std::snprintf(text, sizeof text, "%016" PRIx64 " (glibc %s, %s, fma %d avx2 %d avx512f %d)\n", hash,
                  gnu_get_libc_version(), fftw_version, __builtin_cpu_supports("fma") != 0,
                  __builtin_cpu_supports("avx2") != 0, __builtin_cpu_supports("avx512f") != 0);
    return text;
}

// Numbers compared within 1e-9 relative or one unit of the golden text's
// last digit, everything else exactly; digests are skipped. The first
// difference beyond that, or "".
std::string differenceBeyondRounding(const std::string& got, const std::string& want)
{
    auto tokens = [](const std::string& text) {
        std::vector<std::string> list;
        std::string token;
        for (const char c : text + "\n") {
            if (std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == '(' || c == ')') {
                if (!token.empty())
                    list.push_back(token);
                token.clear();
            } else {
                token += c;
            }
        }
        return list;
    };
    const std::vector<std::string> g = tokens(got), w = tokens(want);
    if (g.size() != w.size())
        return "token counts " + std::to_string(g.size()) + " and " + std::to_string(w.size());
    for (size_t i = 0; i < g.size(); ++i) {
        if (i > 0 && w[i - 1] == "fnv1a64")
            continue;
        char *endG, *endW;
        const double a = std::strtod(g[i].c_str(), &endG), b = std::strtod(w[i].c_str(), &endW);
        if (*endG || *endW || g[i].empty() || std::isnan(b)) {
            if (g[i] != w[i])
                return "'" + g[i] + "' for '" + w[i] + "'";
            continue;
        }
        const size_t point = w[i].find('.');
        const bool plain = w[i].find_first_of("xXeEpP") == std::string::npos;
        const double unit = !plain ? 0 : point == std::string::npos ? 1 : std::pow(10.0, -double(w[i].size() - point - 1));
        if (!(std::abs(a - b) <= std::max({1e-9 * std::abs(b), 1.0001 * unit, 1e-300})))
            return g[i] + " for " + w[i];
    }
    return "";
}

// Where the first difference is, for the failure message.
std::string firstDifference(const std::string& got, const std::string& want)
{
    std::istringstream g(got), w(want);
    std::string a, b;
    for (int line = 1;; ++line) {
        const bool moreG = bool(std::getline(g, a)), moreW = bool(std::getline(w, b));
        if (!moreG && !moreW)
            return "same lines, different bytes";
        if (!moreG || !moreW || a != b)
            return "line " + std::to_string(line) + ":\n  got:    " + (moreG ? a : "(end)") +
                   "\n  golden: " + (moreW ? b : "(end)");
    }
}

class GoldenRunTest : public ::testing::TestWithParam<GoldenRun> {};

TEST_P(GoldenRunTest, GivesTheSameNumbersAsBefore)
{
    const GoldenRun& run = GetParam();
    TestFolder folder;
    // The pink noise table goes through Audidsp's LowPass44, whose state is
    // process-wide: settled at 0 it is as a fresh process has it, so that
    // each run gives the same alone and after the others.
    (void)Audidsp::LowPass44(0, 0, 1);
    const std::string got = run.args.empty() ? signalRun(run, folder.path()) : commandRun(run, folder.path());
    const std::string path = GoldenFolder + run.name + ".txt";
    const std::string platform = platformFingerprint();
    if (const char* update = std::getenv("AUDIMERA_UPDATE_GOLDEN"); update && std::strcmp(update, "1") == 0) {
        spit(path, got);
        spit(GoldenFolder + "platform.txt", platform);
        GTEST_SKIP() << "rewrote " << path;
    }
    const std::string want = slurp(path);
    ASSERT_FALSE(want.empty()) << "no golden file " << path << " (AUDIMERA_UPDATE_GOLDEN=1 writes it)";
    const std::string goldenPlatform = slurp(GoldenFolder + "platform.txt");
    if (platform.substr(0, 16) == goldenPlatform.substr(0, 16)) {
        EXPECT_TRUE(got == want) << path << " differs at " << firstDifference(got, want);
        return;
    }
    std::cout << "This platform's floating point gives other bits than the golden files': " << platform
              << "against " << goldenPlatform << "Compared within rounding, digests skipped.\n";
    const std::string beyond = differenceBeyondRounding(got, want);
    EXPECT_EQ(beyond, "") << path << ": " << firstDifference(got, want);
}

const char* const Speaker = "highpass=80,lowpass2=9000,noise=-70,poly=0.05,0.02";

INSTANTIATE_TEST_SUITE_P(
    Reference, GoldenRunTest,
    ::testing::Values(
        GoldenRun{"sweep-mean",
                  {"sweep", "--simulate", Speaker, "--out", "{dir}/curve.txt", "--frd", "{dir}/curve.frd", "--csv",
                   "{dir}/curve.csv", "--distortion", "{dir}/distortion.csv"},
                  {"curve.txt", "curve.frd", "curve.csv", "distortion.csv"}},
        GoldenRun{"sweep-narrow",
                  {"sweep", "--simulate", Speaker, "--detector", "narrow", "--bands", "31", "--volume", "-3",
                   "--correct-soundcard", "--out", "{dir}/curve.txt", "--distortion", "{dir}/distortion.csv"},
                  {"curve.txt", "distortion.csv"}},
        GoldenRun{"logsweep",
                  {"logsweep", "--simulate", Speaker, "--length", "65536", "--out", "{dir}/curve.txt", "--frd",
                   "{dir}/curve.frd", "--distortion", "{dir}/distortion.csv", "--ir", "{dir}/ir.wav"},
                  {"curve.txt", "curve.frd", "distortion.csv", "ir.wav"}},
        GoldenRun{"logsweep-reference",
                  {"logsweep", "--simulate", "lowpass2=5000,delay=2,drift=30,noise=-80", "--length", "65536",
                   "--reference", "right", "--window", "20", "--smooth", "6", "--phase-ref", "peak", "--correct-spl",
                   "--frd", "{dir}/curve.frd", "--ir", "{dir}/ir.wav"},
                  {"curve.frd", "ir.wav"}},
        GoldenRun{"signal-sine-mean", {}, {}, Speaker, {SignalChoice::Sine, 1000, false}},
        GoldenRun{"signal-sine-narrow", {}, {}, Speaker, {SignalChoice::Sine, 1000, false}, LevelDetector::NarrowBand},
        GoldenRun{"signal-square-x20", {}, {}, Speaker, {SignalChoice::Square, 440, true}},
        GoldenRun{"signal-pink", {}, {}, Speaker, {SignalChoice::PinkNoise, 100, false}},
        GoldenRun{"signal-sine-then-triangle", {}, {}, Speaker, {SignalChoice::Sine, 3000, true},
                  LevelDetector::NarrowBand, SignalChoice{SignalChoice::Triangle, 250, false}}),
    [](const ::testing::TestParamInfo<GoldenRun>& info) { return replaceAll(info.param.name, "-", "_"); });

} // namespace

} // namespace audimera

#include "cli/AnalyseCommand.h"

#include "cli/CommandSetup.h"
#include "cli/ExitCode.h"
#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"
#include "signal/OctaveBands.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <set>

namespace audimera {

namespace MeasureCommand {

namespace {

enum class Verb { Analyse, Spl, Generate };

struct Options {
    Verb verb = Verb::Analyse;
    DeviceChoice devices;
    CorrectionChoice corrections;
    LiveSettings settings;
    std::string csv;
    std::optional<double> calibrate; // spl --calibrate: the calibrator's level, dB SPL
};

// The options each verb takes besides the devices' (and, for analyse, the
// corrections').
const std::set<std::string>& verbOptions(Verb verb)
{
    static const std::set<std::string> analyse = {"--seconds", "--fft", "--window", "--bands", "--average",
                                                   "--weighting", "--calibration-offset", "--csv"};
    static const std::set<std::string> spl = {"--seconds", "--weighting", "--time", "--calibrate",
                                               "--calibration-offset"};
    static const std::set<std::string> generate = {"--seconds", "--periodic", "--volume", "--frequency"};
    return verb == Verb::Analyse ? analyse : verb == Verb::Spl ? spl : generate;
}

const char* verbName(Verb verb)
{
    return verb == Verb::Analyse ? "analyse" : verb == Verb::Spl ? "spl" : "generate";
}

bool powerOfTwo(double v)
{
    const auto n = static_cast<long long>(v);
    return v >= 1 && v < 1e15 && v == std::floor(v) && (n & (n - 1)) == 0;
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Each verb's settings before its options: analyse the third-octave bands
// averaged over the run, Z; spl A and Fast; generate pink noise at
// -20 dBFS RMS.
void defaults(Options& o)
{
    LiveSettings& s = o.settings;
    s.seconds = 5;
    s.spectrum.fftLength = 32768;
    s.spectrum.window = AnalyserWindow::Hann;
    s.spectrum.fraction = 3;
    s.spectrum.averaging = AnalyserAveraging::Running;
    s.weightedSpectrum = true;
    if (o.verb == Verb::Spl) {
        s.weighting = FrequencyWeighting::A;
        s.spectrum.fftLength = 8192; // not shown: the cheapest
    }
    if (o.verb == Verb::Generate)
        s.signal = LiveSignal::PeriodicPink;
}

Status parse(const std::vector<std::string>& args, Options& o)
{
    auto bad = [](std::string what) { return Error::of(Failure::BadInput, std::move(what)); };
    LiveSettings& s = o.settings;
    bool haveSignal = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        double d = 0;
        if (const std::optional<Status> setup = parseSetupOption(args, i, o.devices, o.corrections)) {
            if (!*setup)
                return *setup;
            continue;
        }
        if (o.verb == Verb::Generate && !haveSignal && a.rfind("--", 0) != 0) {
            if (a != "pink" && a != "white" && a != "sine")
                return bad("generate plays pink, white or sine, not '" + a + "'");
            s.signal = a == "pink"    ? LiveSignal::PeriodicPink
                       : a == "white" ? LiveSignal::PeriodicWhite
                                      : LiveSignal::Sine;
            haveSignal = true;
            continue;
        }
        if (!verbOptions(o.verb).count(a))
            return bad("unknown option '" + a + "' for " + verbName(o.verb));
        const bool took = takeValue(args, i, v);
        const bool number = took && parseNumber(v, d);
        if (a == "--seconds") {
            if (!number || !(d > 0) || d > 3600)
                return bad("--seconds needs a time in seconds, above 0 and at most 3600");
            s.seconds = d;
        } else if (a == "--fft" || a == "--periodic") {
            if (!number || !powerOfTwo(d) || d < 8192 || d > 131072)
                return bad(a + " needs a power of two from 8192 to 131072");
            s.spectrum.fftLength = static_cast<int>(d);
        } else if (a == "--window") {
            if (v != "hann" && v != "flattop" && v != "rect")
                return bad("--window must be hann, flattop or rect");
            s.spectrum.window = v == "hann" ? AnalyserWindow::Hann : v == "flattop" ? AnalyserWindow::FlatTop
                                                                                    : AnalyserWindow::Rectangular;
        } else if (a == "--bands") {
            if (!number || d != std::floor(d) || !OctaveBands::validFraction(static_cast<int>(d)))
                return bad("--bands must be 1, 3, 6, 12, 24 or 48");
            s.spectrum.fraction = static_cast<int>(d);
        } else if (a == "--average") {
            if (v == "inf") {
                s.spectrum.averaging = AnalyserAveraging::Running;
            } else if (number && d == 0) {
                s.spectrum.averaging = AnalyserAveraging::None;
            } else if (number && d > 0 && d <= 3600) {
                s.spectrum.averaging = AnalyserAveraging::Exponential;
                s.spectrum.timeConstant = d;
            } else {
                return bad("--average needs a time constant in seconds (0: none) or inf");
            }
        } else if (a == "--weighting") {
            if (v != "A" && v != "C" && v != "Z")
                return bad("--weighting must be A, C or Z");
            s.weighting = v == "A" ? FrequencyWeighting::A : v == "C" ? FrequencyWeighting::C : FrequencyWeighting::Z;
        } else if (a == "--time") {
            if (v != "fast" && v != "slow")
                return bad("--time must be fast or slow");
            s.timeWeighting = v == "fast" ? TimeWeighting::Fast : TimeWeighting::Slow;
        } else if (a == "--calibration-offset") {
            if (!number || std::abs(d) > 300)
                return bad("--calibration-offset needs dB (dB SPL = dBFS + offset), -300 to 300");
            s.calibrationOffsetDb = d;
        } else if (a == "--calibrate") {
            if (!number || d < 0 || d > 200)
                return bad("--calibrate needs the calibrator's level in dB SPL (94, 114)");
            o.calibrate = d;
        } else if (a == "--volume") {
            if (!number || d > 0 || d < -100)
                return bad("--volume needs the signal's RMS level in dB re full scale, -100 to 0");
            s.signalDbfs = d;
        } else if (a == "--frequency") {
            if (!number || !(d > 0))
                return bad("--frequency needs the sine's frequency in Hz");
            s.sineHz = d;
        } else if (a == "--csv") {
            if (!took)
                return bad("--csv needs a file");
            o.csv = v;
        }
    }
    s.channel = o.devices.channel;
    if (o.verb == Verb::Generate && !haveSignal)
        return bad("generate needs the signal: pink, white or sine");
    if (o.verb != Verb::Analyse && (o.corrections.spl || o.corrections.soundCard || !o.corrections.user.empty()))
        return bad(std::string("the corrections apply to analyse only, not to ") + verbName(o.verb));
    if (o.calibrate && s.calibrationOffsetDb)
        return bad("--calibrate and --calibration-offset exclude each other");
    // The bounds that do not depend on the device's rate.
    if (o.verb == Verb::Analyse)
        if (const Status checked = SpectrumAnalyser::check(s.spectrum, SoundDevice::SampleRate); !checked)
            return bad(checked.message());
    return {};
}

// Keeps a run's last update.
class LastUpdate : public LiveObserver {
public:
    void liveUpdate(const LiveUpdate& update) override { last = update; }
    std::optional<LiveUpdate> last;
};

const char* weightingName(FrequencyWeighting w)
{
    return w == FrequencyWeighting::A ? "A" : w == FrequencyWeighting::C ? "C" : "Z";
}

const char* windowName(AnalyserWindow w)
{
    return w == AnalyserWindow::Hann ? "Hann" : w == AnalyserWindow::FlatTop ? "flat-top" : "rectangular";
}

std::string unitOf(const LiveSettings& s)
{
    return s.calibrationOffsetDb ? "dB SPL" : "dBFS";
}

// A level for a file: empty when it is not finite or silence.
std::string cell(double db)
{
    return heardLevel(db) ? fixed(db, 2) : std::string();
}

// A level for the screen: "-inf" for silence.
std::string shown(double db)
{
    return heardLevel(db) ? fixed(db, 2) : std::string("-inf");
}

std::string bandCsv(const SpectrumFrame& f, const LiveSettings& s)
{
    const std::string unit = s.calibrationOffsetDb ? "db_spl" : "dbfs";
    std::string text = "frequency_hz,level_" + unit + ",peak_" + unit + "\n";
    for (std::size_t k = 0; k < f.frequencies.size(); ++k)
        text += fixed(f.frequencies[k], 2) + "," + cell(f.levelsDb[k]) + "," + cell(f.peakDb[k]) + "\n";
    return text;
}

std::string bandTable(const SpectrumFrame& f, const LiveSettings& s)
{
    const std::string unit = unitOf(s);
    std::string text = "  Band      Mid-band (Hz)   Level (" + unit + ")   Peak (" + unit + ")\n";
    bool unresolved = false;
    for (std::size_t k = 0; k < f.frequencies.size(); ++k) {
        char line[160];
        const std::string label = k < f.bands.size() ? f.bands[k].label : fixed(f.frequencies[k], 1);
        const bool resolved = k >= f.resolved.size() || f.resolved[k];
        unresolved = unresolved || !resolved;
        std::snprintf(line, sizeof line, "  %-8s %14.2f %*s %*s%s\n", label.c_str(), f.frequencies[k],
                      static_cast<int>(unit.size()) + 10, shown(f.levelsDb[k]).c_str(),
                      static_cast<int>(unit.size()) + 9, shown(f.peakDb[k]).c_str(), resolved ? "" : " *");
        text += line;
    }
    if (unresolved)
        text += "  * narrower than the transform resolves: a tone in it reads low (a longer --fft resolves it)\n";
    return text;
}

// The meter's readings in the usual names (LAF, LAeq, LAFmax, LApeak).
std::string readings(const SoundLevelReading& r, const LiveSettings& s)
{
    const std::string w = weightingName(s.weighting);
    const std::string t = s.timeWeighting == TimeWeighting::Fast ? "F" : "S";
    const std::string unit = s.calibrationOffsetDb ? "dB SPL" : "dBFS (not calibrated)";
    std::string text;
    struct Row {
        std::string name;
        double db;
    };
    for (const Row& row : {Row{"L" + w + t, r.levelDb}, Row{"L" + w + "eq", r.leqDb},
                           Row{"L" + w + t + "max", r.maxLevelDb}, Row{"L" + w + "peak", r.peakDb}}) {
        char line[96];
        std::snprintf(line, sizeof line, "%-8s %8s %s\n", row.name.c_str(), shown(row.db).c_str(), unit.c_str());
        text += line;
    }
    return text;
}

int runVerb(Verb verb, const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            const std::string& usage)
{
    Options o;
    o.verb = verb;
    defaults(o);
    if (const Status parsed = parse(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage;
        return exitCodeFor(parsed);
    }
    if (const Status checked = checkOutputs(correctionInputs(o.corrections), {{"--csv", o.csv}}); !checked)
        return report(checked, err);
    CorrectionTable corrections;
    std::string sensitivityNotes;
    if (const Status loaded = loadCorrections(o.corrections, corrections, sensitivityNotes); !loaded)
        return report(loaded, err);
    if (o.corrections.spl || o.corrections.soundCard || !o.corrections.user.empty())
        o.settings.corrections = &corrections;

    Result<std::unique_ptr<SoundDevice>> opened = openDevices(o.devices);
    if (!opened)
        return report(opened.error(), err);
    const std::unique_ptr<SoundDevice> device = std::move(*opened);
    // Waits take real time on a real device; the simulated card's time is
    // its own.
    ConsoleHost host(err, false, !o.devices.simulated);
    MeasurementDocument document;
    MeasurementSession session(host, *device, document);
    const LiveSettings& s = o.settings;
    const int rate = device->captureRate();

    if (o.calibrate) {
        err << "Measuring the calibrator's tone for " << fixed(s.seconds, 1) << " s at " << rate << " Hz\n";
        const Result<double> offset = session.measureCalibration(*o.calibrate, s.seconds, s.channel);
        device->closeAudio();
        if (!offset)
            return report(offset.error(), err);
        out << "Calibration offset " << fixed(*offset, 2) << " dB (dB SPL = dBFS + offset): the 1 kHz band read "
            << fixed(*o.calibrate - *offset, 2) << " dBFS for " << fixed(*o.calibrate, 1) << " dB SPL\n";
        err << "Give --calibration-offset " << fixed(*offset, 2) << " to read dB SPL\n";
        return Measured;
    }

    if (verb == Verb::Generate) {
        const char* what = s.signal == LiveSignal::Sine ? "a sine" : s.signal == LiveSignal::PeriodicPink
                                                                         ? "periodic pink noise"
                                                                         : "periodic white noise";
        err << "Playing " << what;
        if (s.signal == LiveSignal::Sine)
            err << " at " << fixed(s.sineHz, 2) << " Hz";
        else
            err << " (period " << s.spectrum.fftLength << " samples)";
        err << ", " << fixed(s.signalDbfs, 1) << " dB re full scale RMS, at " << device->outputDeviceRate()
            << " Hz for " << fixed(s.seconds, 1) << " s\n";
    } else {
        err << "Analysing the record device for " << fixed(s.seconds, 1) << " s at " << rate << " Hz\n";
    }
    LastUpdate last;
    const Status run = session.runAnalyser(s, last);
    device->closeAudio();
    if (!run)
        return report(run, err);
    if (!last.last) {
        err << "Nothing was recorded\n";
        return DeviceFailure;
    }
    const LiveUpdate& u = *last.last;
    if (u.gap)
        err << "Sound was lost during the run: the average restarted\n";

    if (verb == Verb::Generate) {
        err << "The record device heard LZeq " << shown(u.level.leqDb) << " dBFS\n";
        return Measured;
    }
    if (verb == Verb::Spl) {
        out << readings(u.level, s);
        return Measured;
    }
    const SpectrumFrame& f = u.spectrum;
    if (f.transforms == 0) {
        err << "Too short to analyse: the transform needs " << fixed(double(s.spectrum.fftLength) / rate, 2)
            << " s of sound\n";
        return BadUsage;
    }
    err << sensitivityNotes;
    err << "1/" << s.spectrum.fraction << "-octave bands, " << weightingName(s.weighting) << "-weighted, "
        << (s.calibrationOffsetDb ? "dB SPL" : "dBFS (not calibrated)") << ", " << fixed(u.seconds, 1) << " s at "
        << u.rate << " Hz, " << s.spectrum.fftLength << "-point " << windowName(s.spectrum.window) << " transform, "
        << f.transforms << " transforms averaged\n";
    err << readings(u.level, s);
    if (o.csv.empty()) {
        out << bandTable(f, s);
        return Measured;
    }
    if (const Status written = writeOutputs({{o.csv, bandCsv(f, s), "Bands written to " + o.csv}}, err); !written)
        return report(written, err);
    return Measured;
}

} // namespace

int analyse(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    return runVerb(Verb::Analyse, args, out, err, usage);
}

int spl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    return runVerb(Verb::Spl, args, out, err, usage);
}

int generate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    return runVerb(Verb::Generate, args, out, err, usage);
}

std::string analyseUsage()
{
    return R"(  audimera-measure analyse [options]
      The live analyser for a time: the record device's fractional-octave
      band levels, averaged, printed as a table (band, mid-band frequency,
      level, peak) or written as CSV; the sound level meter's readings go
      to standard error.

      --play DEV, --record DEV, --simulate CHAIN, --channel mix|left|right
                           as for sweep
      --correct-spl, --correct-soundcard, --correct-user FILE   as for sweep
      --seconds N          seconds of sound analysed (default 5)
      --fft N              transform length, a power of two from 8192 to
                           131072 (default 32768)
      --window hann|flattop|rect  the transform's window (default hann)
      --bands 1|3|6|12|24|48  octave fraction of the bands (default 3)
      --average SECONDS|inf  exponential average with that time constant,
                           0 for none, or inf: every transform of the run
                           alike (default)
      --weighting A|C|Z    frequency weighting of the bands and the meter
                           (default Z)
      --calibration-offset DB  levels in dB SPL = dBFS + DB (default: dBFS)
      --csv FILE           write frequency, level and peak as CSV instead
                           of the table

  audimera-measure spl [options]
      The sound level meter for a time: the time-weighted level, Leq, the
      maximum and the peak, in dBFS (not calibrated) or dB SPL.

      --play DEV, --record DEV, --simulate CHAIN, --channel mix|left|right
                           as for sweep
      --seconds N          seconds measured (default 5)
      --weighting A|C|Z    frequency weighting (default A)
      --time fast|slow     time weighting, 0.125 s or 1 s (default fast)
      --calibration-offset DB  read dB SPL = dBFS + DB
      --calibrate LEVEL    measure a calibrator's 1 kHz tone of LEVEL dB SPL
                           (94, 114) instead and print the offset; exit code
                           4 when the 1 kHz third-octave band holds less than
                           90 % of the power or lies below -80 dBFS

  audimera-measure generate pink|white|sine [options]
      Plays the analyser's test signal through the play device for a time:
      pink or white noise, periodic in its period (every transform of that
      length sees each bin excited exactly), or a sine of whole cycles.

      --play DEV, --record DEV, --simulate CHAIN   as for sweep
      --periodic N         the noise's period, a power of two from 8192 to
                           131072 samples (default 32768)
      --frequency HZ       the sine's frequency (default 1000)
      --volume DB          the signal's RMS level in dB re full scale, -100
                           to 0 (default -20; a sine reaches -3.01 at most)
      --seconds N          seconds played (default 5)
)";
}

} // namespace MeasureCommand

} // namespace audimera

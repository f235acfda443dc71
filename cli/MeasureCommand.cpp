#include "cli/MeasureCommand.h"
#include "cli/AnalyseCommand.h"
#include "cli/AverageCommand.h"
#include "cli/CommandSetup.h"
#include "cli/EqCommand.h"
#include "cli/LogSweepCommand.h"
#include "cli/RoomCommand.h"
#include "cli/SessionCommand.h"

#include "common/BuildInfo.h"
#include "curves/CurveFile.h"
#include "curves/ExchangeFiles.h"
#include "dsp/DspLibrary.h"
#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"
#include "engine/PlotRange.h"
#include "devices/PulseSoundDevice.h"
#include "display/models/ResponseImage.h"
#include "display/models/ResponsePlot.h"
#include "common/Rounding.h"
#include "devices/SimulatedSoundCard.h"
#include "devices/SoundChain.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>

namespace audimera {

namespace MeasureCommand {

namespace {

// What the command shows of a sweep: every point added to the document is
// also written to the error stream. The choices the window's controls make
// during a run are fixed here by the options.
class ConsoleObserver : public SessionObserver {
public:
    ConsoleObserver(MeasurementDocument& document, std::ostream& err, bool badWaveCheck, int stepHundredths,
                    int maxRetries)
        : m_document(document), m_err(err), m_badWaveCheck(badWaveCheck), m_step(stepHundredths / 100.0),
          m_maxRetries(maxRetries)
    {
    }

    // Every block measured again is said; past the limit the sweep ends.
    bool measuringAgain(double frequency, int retry) override
    {
        m_err << std::fixed << std::setprecision(2);
        if (retry > m_maxRetries) {
            m_err << "The block at " << frequency << " Hz still clips or is malformed after " << m_maxRetries
                  << " measurements again; the sweep stops (--max-retries " << m_maxRetries << ")\n";
            return false;
        }
        m_err << "The block at " << frequency << " Hz clips or is malformed; measuring it again (" << retry << " of "
              << m_maxRetries << ")\n";
        return true;
    }

    bool measuresBadBlocksAgain() const override { return m_badWaveCheck; }
    double stepFactor() const override { return m_step; }
    audimera::Status openTrace() override { return m_document.openTrace(); }
    void distortionMeasured(double, const Distortion& distortion) override { m_distortion = distortion; }
    // Which input carries the sound, for the summary.
    void inputNoted(const std::string& note) override { inputNote = note; }
    std::string inputNote;
    void pointMeasured(double frequency, double level, double snr) override
    {
        TraceStore& traces = m_document.traces();
        const int newest = traces.GetTraceCount() - 1;
        const int before = traces.pointCount(newest);
        traces.AddPoint(frequency, level);
        if (traces.pointCount(newest) > before) {
            m_err << std::fixed << std::setprecision(2) << std::setw(10) << frequency << " Hz " << std::setw(9)
                  << level << " dB   SNR " << std::setw(6) << snr << " dB";
            if (m_distortion.thdPercent)
                m_err << "   THD " << std::setprecision(3) << *m_distortion.thdPercent << " %";
            m_err << '\n';
            DistortionPoint row{frequency, {}, m_distortion.thdPercent};
            for (size_t k = 0; k < m_distortion.harmonicDb.size(); ++k)
                row.harmonicDb[k] = m_distortion.harmonicDb[k];
            distortion.push_back(row);
        }
    }

    // Each point's distortion, in the order measured.
    std::vector<DistortionPoint> distortion;

private:
    MeasurementDocument& m_document;
    std::ostream& m_err;
    bool m_badWaveCheck;
    double m_step;
    int m_maxRetries;
    Distortion m_distortion; // of the point being measured
};

// How a response picture is drawn: the list indices of the main window.
struct PictureOptions {
    std::string png;
    std::string svg;
    int smoothIndex = 1;  // "1 (sharp)", as at start-up
    int dbRangeIndex = 2; // "+/- 24 dB"
    int width = ResponseImage::DefaultWidth;
    int height = ResponseImage::DefaultHeight;
    bool legend = false;             // --legend: trace names and axis titles
    std::vector<std::string> names;  // the legend's names, trace by trace
};

// A legend name for a file: its name without the folders.
std::string legendName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Takes the picture option at args[i] (and its value): nothing when args[i]
// is no picture option; else success, or a BadInput failure saying what is
// wrong.
std::optional<Status> parsePictureOption(const std::vector<std::string>& args, size_t& i, PictureOptions& o)
{
    const std::string& a = args[i];
    auto bad = [](std::string what) { return Error::of(Failure::BadInput, std::move(what)); };
    if (a == "--legend") {
        o.legend = true;
        return Status();
    }
    if (a != "--png" && a != "--svg" && a != "--smooth" && a != "--db-range" && a != "--size")
        return std::nullopt;
    if (i + 1 >= args.size())
        return bad(a + " needs a value");
    const std::string& v = args[++i];
    if (a == "--png") {
        if (v.empty())
            return bad("--png needs a file name");
        o.png = v;
    } else if (a == "--svg") {
        if (v.empty())
            return bad("--svg needs a file name");
        o.svg = v;
    } else if (a == "--smooth") {
        if (v.size() != 1 || v[0] < '0' || v[0] > '3')
            return bad("--smooth must be 0, 1, 2 or 3");
        o.smoothIndex = v[0] - '0';
    } else if (a == "--db-range") {
        const int index = (v == "6" || v == "12" || v == "24" || v == "48")
                              ? ResponsePlot::dbRangeIndexForPlusMinus(std::stoi(v))
                              : -1;
        if (index < 0)
            return bad("--db-range must be 6, 12, 24 or 48");
        o.dbRangeIndex = index;
    } else if (!ResponseImage::parseSize(v, &o.width, &o.height)) {
        return bad("--size must be WIDTHxHEIGHT in pixels, for example 792x211");
    }
    return Status();
}

// Draws the document's traces with the picture's plot settings, as PNG
// and/or SVG, into files to be written; a failure (kind File) says why one
// cannot be made. A trace the picture cannot show is named on err.
Status drawPictures(const PictureOptions& o, MeasurementDocument& document, std::vector<PendingFile>& files,
                    std::ostream& err)
{
    document.plot() = ResponsePlot::settingsForIndices(o.dbRangeIndex, o.smoothIndex);
    // A trace the picture cannot show is named, as the window's status line does.
    for (int t = 0; t < document.traces().GetTraceCount(); ++t) {
        const std::string name = t < static_cast<int>(o.names.size()) ? o.names[t] : "Trace " + std::to_string(t + 1);
        if (const std::string note = PlotRange::outsideNote(name, PlotRange::outsideBy(document.traces(), t, document.plot()));
            !note.empty())
            err << note << '\n';
    }
    PictureCaptions captions;
    if (o.legend) {
        PictureCaptions::prepareFonts();
        captions = PictureCaptions::forResponse(document.traces(), o.names);
    }
    if (!o.png.empty()) {
        Result<std::string> bytes = pngBytes(ResponseImage::render(document.traces(), document.plot(), o.width,
                                                                   o.height, ResponseImage::DefaultBackground, 1,
                                                                   captions));
        if (!bytes)
            return Error::of(Failure::File, CurveFile::saveError(o.png, bytes.message()));
        files.push_back({o.png, std::move(*bytes), "Picture written to " + o.png});
    }
    if (!o.svg.empty()) {
        const QByteArray bytes = ResponseImage::svg(document.traces(), document.plot(), o.width, o.height,
                                                    ResponseImage::DefaultBackground, captions);
        if (bytes.isEmpty())
            return Error::of(Failure::File, CurveFile::saveError(o.svg, "invalid picture size"));
        files.push_back({o.svg, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                         "Picture written to " + o.svg});
    }
    return {};
}

struct Options {
    DeviceChoice devices;
    CorrectionChoice corrections;
    std::string out, freqFile, frd, csv;
    PictureOptions picture;
    std::string start = "20", stop = "20000";
    int step = 126;
    int bands = 0;
    bool haveVolume = false;
    double volume = 0;
    bool badWaveCheck = true;
    bool yes = false;
    LevelDetector detector = LevelDetector::MeanMagnitude;
    std::string distortion; // the distortion table's file
    int maxRetries = 20;    // bad blocks measured again at one frequency before the sweep stops
};

// Parses the sweep options; a failure (kind BadInput) says what is wrong.
Status parseSweep(const std::vector<std::string>& args, Options& o)
{
    auto bad = [](std::string what) { return Error::of(Failure::BadInput, std::move(what)); };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) { return takeValue(args, i, into); };
        std::string v;
        if (const std::optional<Status> picture = parsePictureOption(args, i, o.picture)) {
            if (!*picture)
                return *picture;
        } else if (const std::optional<Status> setup = parseSetupOption(args, i, o.devices, o.corrections)) {
            if (!*setup)
                return *setup;
        } else if (a == "--range") {
            if (!value(o.start) || !value(o.stop))
                return bad("--range needs START and STOP");
            double d = 0;
            if (!parseNumber(o.start, d) || !parseNumber(o.stop, d))
                return bad("--range needs two numbers, with '.' as the decimal point");
        } else if (a == "--step") {
            double f = 0;
            if (!value(v) || !parseNumber(v, f))
                return bad("--step needs a factor from 1.01 to 2.00");
            const double hundredths = f * 100;
            if (!(hundredths > 100.5 && hundredths < 200.5) || std::abs(hundredths - std::round(hundredths)) > 1e-6)
                return bad("--step must lie from 1.01 to 2.00 in steps of 0.01, not " + v);
            o.step = static_cast<int>(std::lround(hundredths));
        } else if (a == "--bands") {
            if (!value(v) || (v != "15" && v != "31"))
                return bad("--bands must be 15 or 31");
            o.bands = v == "15" ? 15 : 31;
        } else if (a == "--freq-file") {
            if (!value(o.freqFile))
                return bad("--freq-file needs a file");
        } else if (a == "--volume") {
            if (!value(v) || !parseNumber(v, o.volume) || o.volume > 0 || o.volume < -100)
                return bad("--volume needs a level in dB from -100 to 0");
            o.haveVolume = true;
        } else if (a == "--max-retries") {
            const auto [end, ec] = value(v) ? std::from_chars(v.data(), v.data() + v.size(), o.maxRetries)
                                            : std::from_chars_result{nullptr, std::errc::invalid_argument};
            if (ec != std::errc() || end != v.data() + v.size() || o.maxRetries < 0)
                return bad("--max-retries needs a whole number of blocks, 0 or more");
        } else if (a == "--no-bad-wave-check") {
            o.badWaveCheck = false;
        } else if (a == "--detector") {
            if (!value(v) || (v != "mean" && v != "narrow"))
                return bad("--detector must be mean or narrow");
            o.detector = v == "narrow" ? LevelDetector::NarrowBand : LevelDetector::MeanMagnitude;
        } else if (a == "--distortion") {
            if (!value(o.distortion))
                return bad("--distortion needs a file");
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "--out") {
            if (!value(o.out))
                return bad("--out needs a file");
        } else if (a == "--frd") {
            if (!value(o.frd))
                return bad("--frd needs a file");
        } else if (a == "--csv") {
            if (!value(o.csv))
                return bad("--csv needs a file");
        } else {
            return bad("unknown option '" + a + "'");
        }
    }
    if (o.bands && !o.freqFile.empty())
        return bad("--bands and --freq-file exclude each other");
    return {};
}

int listDevices(std::ostream& out, std::ostream& err)
{
    PulseSoundDevice pulse;
    if (const audimera::Status started = pulse.initAudio(); !started) {
        err << started.message() << '\n';
        return DeviceFailure;
    }
    struct Kind {
        const char* title;
        std::vector<SoundDeviceInfo> devices;
    };
    for (const Kind& kind : {Kind{"Play devices", pulse.playDevices()}, Kind{"Record devices", pulse.recordDevices()}}) {
        out << kind.title << ":\n";
        for (size_t i = 0; i < kind.devices.size(); ++i) {
            const SoundDeviceInfo& device = kind.devices[i];
            out << "  " << i << (i == 0 ? " * " : "   ") << device.name << "  (" << device.description << ")";
            if (device.rate > 0)
                out << "  " << device.rate << " Hz";
            if (device.isMonitor())
                out << "  [monitor of " << device.monitorOf << "]";
            out << '\n';
        }
    }
    out << "(* the server's default; each device's own rate: Audimera converts any other than 44100 Hz itself)\n"
           "([monitor of X] hears what play device X plays: a loopback of the program's own output, not an input)\n";
    return Measured;
}

int sweep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options o;
    if (const Status parsed = parseSweep(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage();
        return exitCodeFor(parsed);
    }
    {
        std::vector<std::string> inputs = correctionInputs(o.corrections);
        if (!o.freqFile.empty())
            inputs.push_back(o.freqFile);
        if (const Status checked = checkOutputs(inputs, {{"--out", o.out},
                                                         {"--frd", o.frd},
                                                         {"--csv", o.csv},
                                                         {"--distortion", o.distortion},
                                                         {"--png", o.picture.png},
                                                         {"--svg", o.picture.svg}});
            !checked)
            return report(checked, err);
    }
    if (const Status dsp = DspLibrary::instance().require(Audidsp::programExports()); !dsp)
        return report(dsp, err);

    Result<std::unique_ptr<SoundDevice>> opened = openDevices(o.devices);
    if (!opened)
        return report(opened.error(), err);
    const std::unique_ptr<SoundDevice> device = std::move(*opened);

    // The sweep as the options set it: what the main window reads from its
    // controls at Start.
    SweepSettings settings;
    settings.plan = !o.freqFile.empty() ? FrequencyPlan::UserFilePlan
                    : o.bands == 15    ? FrequencyPlan::Bands15Plan
                    : o.bands == 31    ? FrequencyPlan::Bands31Plan
                                       : FrequencyPlan::RangePlan;
    parseNumber(o.start, settings.start); // both checked by parseSweep
    parseNumber(o.stop, settings.stop);
    settings.userFile = o.freqFile;
    settings.detector = o.detector;
    settings.channel = o.devices.channel;
    if (o.haveVolume)
        settings.outputLevel = audimera::nearestInt(o.volume * 100);

    // A correction whose curve cannot be loaded is reported, and nothing is
    // measured.
    MeasurementDocument document;
    CorrectionTable& corrections = document.corrections();
    settings.corrections = &corrections;
    // A calibration file's sensitivity factor goes to the summary; the
    // curve itself stays relative.
    std::string sensitivityNotes;
    if (const Status loaded = loadCorrections(o.corrections, corrections, sensitivityNotes); !loaded) {
        const int code = report(loaded, err);
        device->closeAudio();
        return code;
    }

    ConsoleHost host(err, o.yes, !o.devices.simulated);
    ConsoleObserver observer(document, err, o.badWaveCheck, o.step, o.maxRetries);
    MeasurementSession session(host, *device, document);
    session.initialiseTables();
    session.setObserver(&observer);
    const Status outcome = session.runSweep(settings);
    // Read before closing: a closed device has no rate.
    const std::string rateNote = SoundDevice::rateNote(device->outputDeviceRate(), device->inputDeviceRate());
    device->closeAudio();

    const std::vector<CurvePoint> trace = document.lastTrace();
    // What went wrong was said during the run.
    if (!outcome)
        return exitCodeFor(outcome);

    if (!trace.empty()) {
        double low = trace[0].level, high = trace[0].level;
        for (const CurvePoint& p : trace) {
            low = std::min(low, p.level);
            high = std::max(high, p.level);
        }
        err << std::defaultfloat << std::setprecision(10) << trace.size() << " points from " << trace.front().frequency << " Hz to "
            << trace.back().frequency << " Hz, levels " << std::fixed << std::setprecision(2) << low << " to "
            << high << " dB\n";
    } else {
        err << "No point was measured.\n";
    }
    if (!rateNote.empty())
        err << rateNote << ".\n";
    err << sensitivityNotes;
    if (!observer.inputNote.empty())
        err << observer.inputNote << '\n';

    // Every file is made first, then all are written or none.
    std::vector<PendingFile> files;
    if (!o.picture.png.empty() || !o.picture.svg.empty()) {
        o.picture.names = {o.out.empty() ? std::string("Measured") : legendName(o.out)};
        if (const Status drawn = drawPictures(o.picture, document, files, err); !drawn)
            return report(drawn, err);
    }
    const audimera::Result<std::string> curveText = CurveFile::text(trace);
    std::vector<ResponsePoint> response;
    for (const CurvePoint& p : trace)
        response.push_back(ResponsePoint{p.frequency, p.level, std::nullopt});
    struct Made {
        const std::string& path;
        audimera::Result<std::string> text;
        const char* said;
    };
    // Files for other tools: FRD with phase 0 (a sweep measures none), CSV.
    for (Made m : {Made{o.out, curveText, "Curve written to "},
                   Made{o.distortion, ExchangeFiles::distortionCsvText(observer.distortion), "Distortion written to "},
                   Made{o.frd, ExchangeFiles::frdText(response, {"Audimera frequency response"}), "Curve written to "},
                   Made{o.csv, ExchangeFiles::csvText(response), "Curve written to "}}) {
        if (m.path.empty())
            continue;
        if (!m.text) {
            err << CurveFile::saveError(m.path, m.text.message()) << '\n';
            return FileError;
        }
        files.push_back({m.path, *m.text, m.said + m.path});
    }
    if (const Status written = writeOutputs(files, err); !written)
        return report(written, err);
    if (o.out.empty()) {
        if (!curveText) {
            err << "The curve is not printed: " << curveText.message() << '\n';
            return FileError;
        }
        for (const CurvePoint& p : trace)
            out << CurveFile::record(p.frequency, p.level) << '\n';
    }
    return Measured;
}

// The largest level, in dB either way, that plot draws; a file beyond it
// is refused rather than drawn as nothing.
constexpr int MaxDrawnLevel = 1000;

// Draws saved curve files as overlaid traces.
int plot(const std::vector<std::string>& args, std::ostream& err)
{
    PictureOptions picture;
    std::vector<std::string> files;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::optional<Status> option = parsePictureOption(args, i, picture);
        if (!option) {
            if (args[i].rfind("--", 0) == 0) {
                err << "audimera-measure: unknown option '" << args[i] << "'\n\n" << usage();
                return BadUsage;
            }
            files.push_back(args[i]);
        } else if (!*option) {
            err << "audimera-measure: " << option->message() << "\n\n" << usage();
            return exitCodeFor(*option);
        }
    }
    if (files.empty() || (picture.png.empty() && picture.svg.empty())) {
        err << "audimera-measure: plot needs curve files and --png OUT or --svg OUT\n\n" << usage();
        return BadUsage;
    }
    if (files.size() > static_cast<size_t>(TraceStore::MaxTraces)) {
        err << TraceStore::TooManyTracesMessage << '\n';
        return BadUsage;
    }
    if (const Status checked = checkOutputs(files, {{"--png", picture.png}, {"--svg", picture.svg}}); !checked)
        return report(checked, err);
    if (const Status dsp = DspLibrary::instance().require(Audidsp::programExports()); !dsp)
        return report(dsp, err);
    MeasurementDocument document;
    for (const std::string& file : files) {
        std::vector<CurvePoint> points;
        const audimera::Status read = CurveFile::read(file, TraceStore::MaxPoints, points);
        // Room for every file was checked above.
        if (!points.empty() && document.openTrace()) {
            for (const CurvePoint& p : points)
                document.traces().AddPoint(p.frequency, p.level);
            picture.names.push_back(legendName(file));
        }
        if (!read) {
            err << "Error loading file '" << file << "' : " << read.message() << '\n';
            return FileError;
        }
        if (points.empty()) {
            err << "Bad file, no points were found ! (" << file << ")\n";
            return FileError;
        }
        // Such a level is no measurement, and the drawing cannot show it.
        for (const CurvePoint& p : points) {
            if (std::abs(p.level) > MaxDrawnLevel) {
                err << "Error loading file '" << file << "' : the level " << CurveFile::record(p.frequency, p.level)
                    << " lies beyond +-" << MaxDrawnLevel << " dB, which no trace is drawn at\n";
                return FileError;
            }
        }
        // Points off the level span draw nothing: say so rather than leave
        // the picture silently without them (a trace wholly off it is named
        // when the picture is drawn).
        const double half = ResponsePlot::dbSpanForIndex(picture.dbRangeIndex) / 2.0;
        const auto outside = std::count_if(points.begin(), points.end(),
                                           [&](const CurvePoint& p) { return std::abs(p.level) > half; });
        if (outside > 0 && outside < static_cast<std::ptrdiff_t>(points.size()))
            err << "'" << file << "': " << outside << " of " << points.size() << " points lie outside +-" << half
                << " dB and do not show (see --db-range)\n";
    }
    std::vector<PendingFile> pictures;
    if (const Status drawn = drawPictures(picture, document, pictures, err); !drawn)
        return report(drawn, err);
    if (const Status written = writeOutputs(pictures, err); !written)
        return report(written, err);
    return Measured;
}

} // namespace

std::string usage()
{
    return R"(Usage:
  audimera-measure devices
      Lists the sound server's play and record devices (index, name,
      description, the rate it runs at); * marks the default of each kind,
      [monitor of ...] a record device that hears a play device's output.

  audimera-measure sweep [options]
      Measures a frequency response: calibrates on silence and white noise,
      then plays and records one tone per frequency.

      --play DEV           play device, by index or name (default: the server's)
      --record DEV         record device, by index or name (default: the server's)
      --simulate CHAIN     use the simulated sound card instead of the server;
                           CHAIN is comma-separated items applied in order:
                           gain=DB, lowpass=HZ, highpass=HZ (one-pole),
                           lowpass2=HZ, highpass2=HZ (Butterworth biquads),
                           noise=DBFS, delay=MS, drop=N, clip=LEVEL, silence,
                           drift=PPM (the record clock 1 + PPM 1e-6 times the
                           play clock); "" is a perfect loopback
      --range START STOP   geometric range in Hz (default 20 20000)
      --step FACTOR        step factor of the range, 1.01 to 2.00 by 0.01
                           (default 1.26)
      --bands 15|31        the 15 or 31 ISO third-octave bands instead
      --freq-file FILE     the frequencies listed in FILE instead
      --volume DB          output level, -100 to 0 dB (default 0)
      --correct-spl        subtract the 'C' SPL curve ("SPL C Curve.txt" in the
                           working directory, else the one installed)
      --correct-soundcard  subtract the sound card curve ("SoundCard.txt" in the
                           working directory, else the one installed)
      --correct-user FILE  subtract the user calibration curve in FILE
      --no-bad-wave-check  plot saturated or malformed blocks instead of
                           measuring them again
      --max-retries N      measure a saturated or malformed block again at
                           most N times (default 20), each time saying so;
                           then the sweep stops with exit code 6
      --channel mix|left|right  the record input measured: the mean of both as
                           the device mixes them (mix, default) or one alone;
                           the summary says when one input is over 30 dB
                           quieter than the other
      --detector mean|narrow  each point's level: the mean sample magnitude
                           (default) or the tone alone, fitted at its exact
                           frequency, on the same scale
      --distortion FILE    also write each point's distortion as CSV: H2..H5
                           in dB re the tone (those up to 20 kHz) and THD in %
                           (where all four are)
      --yes                go on when the calibration finds too little signal
      --out FILE           write the curve to FILE (one "frequency,level" line
                           per point); without it the lines go to standard output
      --frd FILE           also write the curve as FRD (frequency, level, phase 0)
      --csv FILE           also write the curve as CSV with a header row
      --png FILE           also draw the measured trace into a PNG picture
      --svg FILE           also draw it into an SVG picture

      Progress, messages and a summary go to standard error.

)" + logSweepUsage() + R"(
)" + roomUsage() + R"(
)" + averageUsage() + R"(
)" + sessionUsage() + R"(
)" + eqUsage() + R"(
)" + analyseUsage() + R"(
  audimera-measure plot FILE... --png OUT | --svg OUT
      Draws up to 8 curve files as overlaid traces into a PNG or SVG picture
      (or both). Reads what Load Trace reads: saved curves, FRD files and
      calibration files (one "frequency level [phase]" record a line, other
      lines skipped).

  Picture options (sweep and plot):
      --smooth 0|1|2|3     smoothing: none, sharp (default), light, strong
      --db-range 6|12|24|48  the level span, plus and minus (default 24)
      --size WxH           picture size in pixels (default 792x211)
      --legend             add a legend (the file names, or "Measured",
                           in the traces' colours) and axis titles

  audimera-measure --version
      Prints the version.

Exit codes: 0 measured, 1 the Audidsp library is missing, 2 bad usage
(eq: also a trace or target it cannot use; average, align: also responses
at different rates or without a band in common; session: also a refused
session file),
3 sound device failure, 4 low signal not confirmed (logsweep: no signal;
spl --calibrate: no calibrator tone), 5 file error, 6 the recording clips
(logsweep), 7 samples were lost (logsweep).
)";
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) {
        err << usage();
        return BadUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << usage();
        return Measured;
    }
    if (args[0] == "--version") {
        out << "audimera-measure " << BuildInfo::Version << '\n';
        return Measured;
    }
    if (args[0] == "devices") {
        if (args.size() > 1) {
            err << "audimera-measure: 'devices' takes no options\n";
            return BadUsage;
        }
        return listDevices(out, err);
    }
    if (args[0] == "plot") {
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            out << usage();
            return Measured;
        }
        return plot(args, err);
    }
    if (args[0] == "logsweep") {
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            out << usage();
            return Measured;
        }
        return logSweep(args, out, err, usage());
    }
    if (args[0] == "room") {
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            out << usage();
            return Measured;
        }
        return room(args, out, err, usage());
    }
    if (args[0] == "eq") {
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            out << usage();
            return Measured;
        }
        return eq(args, out, err, usage());
    }
    using Verb = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&, const std::string&);
    for (const auto& [name, verb] : {std::pair<const char*, Verb>{"analyse", analyse}, {"spl", spl}, {"generate", generate},
                                    {"average", average}, {"align", align}, {"session", session}}) {
        if (args[0] != name)
            continue;
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            out << usage();
            return Measured;
        }
        return verb(args, out, err, usage());
    }
    if (args[0] == "sweep") {
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            out << usage();
            return Measured;
        }
        return sweep(args, out, err);
    }
    err << "audimera-measure: unknown command '" << args[0] << "'\n\n" << usage();
    return BadUsage;
}

} // namespace MeasureCommand

} // namespace audimera

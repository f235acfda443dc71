#include "cli/LogSweepCommand.h"

#include "cli/CommandSetup.h"
#include "cli/ExitCode.h"
#include "cli/TimeFrequencyOutputs.h"
#include "curves/CurveFile.h"
#include "curves/ExchangeFiles.h"
#include "curves/ImpulseFile.h"
#include "display/models/DrawingSurface.h"
#include "display/models/LogSweepPlots.h"
#include "display/models/ResponseImage.h"
#include "engine/LogSweepMeasurement.h"
#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"
#include "engine/RoomReport.h"
#include "cli/RoomCommand.h"
#include "devices/SimulatedSoundCard.h"

#include <QImage>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>

namespace audimera {

namespace MeasureCommand {

namespace {

struct Options {
    DeviceChoice devices;
    CorrectionChoice corrections;
    LogSweepSettings settings;
    std::string out, frd, ir, distortion, png;
    std::string room; // the room figures' CSV
    RoomSettings roomSettings;
    TimeFrequencyFiles timeFrequency;
    bool legend = false; // --legend on the picture
};

bool parseCount(const std::string& text, long long& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// Parses the options after "logsweep"; a failure (kind BadInput) says what
// is wrong.
Status parse(const std::vector<std::string>& args, Options& o)
{
    LogSweepSettings& s = o.settings;
    auto bad = [](std::string what) { return Error::of(Failure::BadInput, std::move(what)); };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) { return takeValue(args, i, into); };
        std::string v, w;
        double d = 0;
        long long n = 0;
        if (const std::optional<Status> setup = parseSetupOption(args, i, o.devices, o.corrections)) {
            if (!*setup)
                return *setup;
        } else if (const std::optional<Status> tf = parseTimeFrequencyOption(args, i, o.timeFrequency)) {
            if (!*tf)
                return *tf;
        } else if (a == "--range") {
            if (!value(v) || !value(w) || !parseNumber(v, s.start) || !parseNumber(w, s.stop))
                return bad("--range needs START and STOP in Hz, with '.' as the decimal point");
        } else if (a == "--length") {
            // N samples, or Ns seconds: the power of two nearest at the
            // device's rate.
            if (value(v) && v.size() > 1 && v.back() == 's') {
                if (!parseNumber(v.substr(0, v.size() - 1), d) || !(d > 0) || d > 3600)
                    return bad("--length needs a number of samples, or of seconds such as 6s");
                s.length = 0;
                s.lengthSeconds = d;
            } else {
                if (v.empty() || !parseCount(v, n) || n < 0)
                    return bad("--length needs a number of samples");
                s.length = static_cast<std::size_t>(n);
            }
        } else if (a == "--volume") {
            if (!value(v) || !parseNumber(v, d))
                return bad("--volume needs the sweep's peak level in dB re full scale, -100 to 0");
            s.levelDb = d;
        } else if (a == "--reference") {
            if (!value(v) || (v != "left" && v != "right"))
                return bad("--reference must be left or right");
            s.reference = v == "left" ? LogSweepSettings::Reference::Left : LogSweepSettings::Reference::Right;
        } else if (a == "--window") {
            // MS, or MS:TAPER_MS.
            const bool took = value(v);
            const std::size_t colon = took ? v.find(':') : std::string::npos;
            double taper = -1;
            if (!took || !parseNumber(v.substr(0, colon), d)
                || (colon != std::string::npos && (!parseNumber(v.substr(colon + 1), taper) || taper < 0)))
                return bad("--window needs a gate length in ms (MS, or MS:TAPER_MS)");
            s.gateMs = d;
            s.gateTaperMs = taper;
        } else if (a == "--phase-ref") {
            using PhaseRef = LogSweepSettings::PhaseRef;
            if (!value(v))
                return bad("--phase-ref must be auto, peak, reference or a delay in ms");
            if (v == "auto" || v == "peak" || v == "reference") {
                s.phaseRef = v == "auto" ? PhaseRef::Auto : v == "peak" ? PhaseRef::Peak : PhaseRef::Reference;
            } else if (parseNumber(v, d) && std::abs(d) <= LogSweepSettings::MaxPhaseDelayMs) {
                s.phaseRef = PhaseRef::Delay;
                s.phaseDelayMs = d;
            } else {
                return bad("--phase-ref must be auto, peak, reference or a delay in ms");
            }
        } else if (a == "--smooth") {
            if (!value(v) || !parseCount(v, n) || n < 0 || n > 1000)
                return bad("--smooth must be 0, 1, 3, 6, 12, 24 or 48");
            s.smoothing = static_cast<int>(n);
        } else if (a == "--points-per-octave") {
            if (!value(v) || !parseCount(v, n) || n < 0 || n > 1000000)
                return bad("--points-per-octave needs a whole number");
            s.pointsPerOctave = static_cast<int>(n);
        } else if (a == "--room") {
            if (!value(o.room))
                return bad("--room needs a file");
        } else if (a == "--room-bands") {
            const std::optional<RoomSettings::Bands> bands = value(v) ? parseRoomBands(v) : std::nullopt;
            if (!bands)
                return bad("--room-bands must be octave or third");
            o.roomSettings.bands = *bands;
        } else if (a == "--legend") {
            o.legend = true;
        } else if (a == "--out" || a == "--frd" || a == "--ir" || a == "--distortion" || a == "--png") {
            std::string& into = a == "--out" ? o.out : a == "--frd" ? o.frd : a == "--ir" ? o.ir
                              : a == "--distortion"                 ? o.distortion
                                                                    : o.png;
            if (!value(into))
                return bad(a + " needs a file");
        } else {
            return bad("unknown option '" + a + "'");
        }
    }
    s.channel = o.devices.channel;
    // The bounds that do not depend on the device's rate.
    if (const Status checked = s.check(SoundDevice::SampleRate); !checked)
        return bad(checked.message());
    return {};
}

// A bar with the seconds left, redrawn in place on the error stream when it
// moves by a step.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, double seconds) : m_err(err), m_seconds(seconds) {}
    void show(double fraction)
    {
        constexpr int Width = 30;
        const int step = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 50);
        if (step == m_step)
            return;
        m_step = step;
        const int filled = step * Width / 50;
        m_err << '\r' << '[' << std::string(static_cast<size_t>(filled), '#')
              << std::string(static_cast<size_t>(Width - filled), '.') << "] " << std::setw(3) << step * 2 << "%  "
              << std::fixed << std::setprecision(1) << std::max(0.0, (1 - fraction) * m_seconds) << " s left "
              << std::flush;
        m_drawn = true;
    }
    void finish()
    {
        if (m_drawn)
            m_err << '\n';
        m_drawn = false;
    }

private:
    std::ostream& m_err;
    double m_seconds;
    int m_step = -1;
    bool m_drawn = false;
};

// Magnitude and phase as the Log Sweep window's response view draws them,
// at twice the height of the response window's first size, as PNG bytes;
// with legend, named curves and axis titles around a smaller view. The
// failure (kind File) says why it cannot be made.
Result<std::string> pictureBytes(const std::vector<ResponsePoint>& response, bool legend)
{
    PictureCaptions captions;
    if (legend) {
        PictureCaptions::prepareFonts();
        captions.legend = {{"Magnitude", LogSweepPlots::MagnitudeColor}, {"Phase", LogSweepPlots::PhaseColor}};
        captions.xTitle = "Frequency (Hz)";
        captions.yTitle = "Level (dB)";
        captions.y2Title = "Phase (degrees)";
    }
    const int width = ResponseImage::DefaultWidth, height = 2 * ResponseImage::DefaultHeight;
    const QRect area = captions.plotArea(width, height);
    DrawingSurface surface(LogSweepPlots::UnitsPerPixel);
    surface.setBackColor(ResponseImage::DefaultBackground);
    surface.setSize(area.width() * LogSweepPlots::UnitsPerPixel, area.height() * LogSweepPlots::UnitsPerPixel);
    LogSweepPlots::drawResponse(surface, response);
    return pngBytes(
        ResponseImage::withCaptions(surface.image(), captions, width, height, ResponseImage::DefaultBackground, 1));
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

std::string logSweepUsage()
{
    return R"(  audimera-measure logsweep [options]
      Measures magnitude, phase, impulse response and harmonic distortion
      from one exponential sine sweep played and recorded at once.

      --play DEV, --record DEV, --simulate CHAIN   as for sweep; the
                           simulated chain also takes poly=A2,A3 (distortion
                           y = x + A2 x^2 + A3 x^3), refchannel=left|right|none
                           and input=left|right (the sound on that input only)
      --range START STOP   reported range in Hz, 10 to 22050 (default 20 20000)
      --length N           sweep length in samples, 32768 (2^15) to 1048576
                           (2^20) (default 262144, about 5.9 s at 44100 Hz:
                           the power of two nearest 6 s at the device's rate)
      --length SECONDSs    the length in seconds (6s, 5.9s): the power of two
                           of samples nearest it at the device's rate
      --volume DBFS        the sweep's peak level, -100 to 0 dB re full scale
                           (default -6)
      --reference left|right  that record channel is a direct loopback of the
                           output; the other channel is measured against it
      --channel mix|left|right  the record input measured: the mean of both
                           (mix, default) or one alone; with --reference it
                           may only name the other input (the one measured)
      --window MS[:TAPER]  gate the impulse response: flat to MS after its
                           peak, then a half-Hann taper of TAPER ms (default
                           20 % of MS); default none
      --phase-ref auto|peak|reference|MS   what the phase is relative to:
                           auto (default), the delay at which the response
                           lines up best with its minimum phase, so that a
                           minimum-phase device shows its own phase (with
                           --reference, the reference's timing); peak,
                           the impulse response's peak; reference, the
                           reference channel's timing (without --reference,
                           auto); or a fixed delay of MS ms
      --smooth N           1/N-octave smoothing: 0 (none, default), 1, 3, 6,
                           12, 24 or 48
      --points-per-octave N  output frequencies per octave (default 48)
      --correct-spl, --correct-soundcard, --correct-user FILE   as for sweep
      --out FILE           the magnitude as a curve file ("frequency,level")
      --frd FILE           frequency, magnitude (dB), phase (degrees) as FRD
      --ir FILE            the impulse response as a 32-bit float WAV file
      --distortion FILE    H2..H5 (dB re the fundamental) and THD (%) as CSV
      --png FILE           magnitude and phase in one picture
      --room FILE          the room figures of the impulse response (as
                           'room --csv' writes them)
      --room-bands octave|third  their bands (default octave)
      --legend             with a legend and axis titles in the picture
)" + timeFrequencyUsage() + R"(
      Without --out or --frd the curve goes to standard output; progress,
      messages and a summary (delay, peak level, the impulse response's
      signal-to-noise ratio) go to standard error. A recording that clips
      ends with exit code 6, lost samples with 7.
)";
}

int logSweep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    Options o;
    if (const Status parsed = parse(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage;
        return exitCodeFor(parsed);
    }
    std::vector<OutputFile> outputs = {{"--out", o.out}, {"--frd", o.frd}, {"--ir", o.ir},
                                       {"--distortion", o.distortion}, {"--png", o.png}, {"--room", o.room}};
    for (OutputFile& f : o.timeFrequency.outputs())
        outputs.push_back(std::move(f));
    if (const Status checked = checkOutputs(correctionInputs(o.corrections), outputs); !checked)
        return report(checked, err);

    CorrectionTable corrections;
    std::string sensitivityNotes;
    if (const Status loaded = loadCorrections(o.corrections, corrections, sensitivityNotes); !loaded)
        return report(loaded, err);
    o.settings.corrections = &corrections;

    Result<std::unique_ptr<SoundDevice>> opened = openDevices(o.devices);
    if (!opened)
        return report(opened.error(), err);
    const std::unique_ptr<SoundDevice> device = std::move(*opened);
    // On the simulated card the option names the cable's channel unless the
    // chain does.
    if (o.devices.simulated && o.settings.reference == LogSweepSettings::Reference::Left)
        static_cast<SimulatedSoundCard&>(*device).setReferenceChannel(SimulatedSoundCard::Channel::Left);

    const int rate = device->duplexRate();
    o.settings.length = o.settings.lengthAt(rate);
    const double seconds =
        (static_cast<double>(o.settings.length) + LogSweepSettings::TailSeconds * rate) / std::max(rate, 1);
    err << "Log sweep: " << o.settings.length << " samples at " << rate << " Hz ("
        << fixed(static_cast<double>(o.settings.length) / std::max(rate, 1), 1) << " s), " << o.settings.start
        << " to " << o.settings.stop << " Hz, " << fixed(o.settings.levelDb, 1) << " dB re full scale\n";
    ProgressBar bar(err, seconds);
    // The session waits on the device through the host: a millisecond's
    // sleep between polls on a real device, none on the simulated card. The
    // log sweep asks no questions.
    ConsoleHost host(err, false, !o.devices.simulated);
    MeasurementDocument document;
    MeasurementSession session(host, *device, document);
    const Status measured = session.runLogSweep(o.settings, [&](double fraction) { bar.show(fraction); });
    bar.finish();
    device->closeAudio();
    if (!measured) {
        err << measured.message() << '\n';
        if (o.settings.reference == LogSweepSettings::Reference::None)
            if (const std::string note = device->lastInputLevels().note(o.settings.channel); !note.empty())
                err << note << '\n';
        return exitCodeFor(measured);
    }
    const LogSweepResults& r = session.lastLogSweep()->results;

    err << "Delay " << fixed(r.delaySeconds() * 1000, 3) << " ms (" << fixed(r.delaySamples, 2) << " samples"
        << (o.settings.reference != LogSweepSettings::Reference::None ? ", re the reference" : "")
        << "), peak " << fixed(r.peakDb, 2) << " dB re full scale, impulse response signal-to-noise "
        << fixed(r.impulseSnrDb, 1) << " dB, no clipping\n";
    err << LogSweepMeasurement::clockOffsetSummary(r) << '\n';
    err << LogSweepMeasurement::phaseReferenceSummary(r) << '\n';
    if (r.phaseUnreliable)
        err << "The phase is unreliable: " << r.phaseNote << '\n';
    err << sensitivityNotes;
    if (!r.inputNote.empty())
        err << r.inputNote << '\n';
    if (!r.response.empty()) {
        double low = r.response[0].level, high = low;
        for (const ResponsePoint& p : r.response) {
            low = std::min(low, p.level);
            high = std::max(high, p.level);
        }
        err << r.response.size() << " points from " << r.response.front().frequency << " Hz to "
            << r.response.back().frequency << " Hz, levels " << fixed(low, 2) << " to " << fixed(high, 2) << " dB\n";
    }

    auto saveFailed = [&](const std::string& path, const std::string& why) {
        return report(Error::of(Failure::File, CurveFile::saveError(path, why)), err);
    };
    // Every file is made first, then all are written or none.
    std::vector<PendingFile> files;
    if (!o.ir.empty()) {
        const audimera::Result<std::string> bytes = ImpulseFile::wavBytes(r.impulse, r.rate);
        if (!bytes)
            return saveFailed(o.ir, bytes.message());
        files.push_back({o.ir, *bytes,
                         "Impulse response written to " + o.ir + " (" + std::to_string(r.impulse.size())
                             + " samples, peak at sample " + std::to_string(r.impulsePeak) + ")"});
    }
    if (!o.distortion.empty()) {
        const audimera::Result<std::string> text = ExchangeFiles::distortionCsvText(r.distortion);
        if (!text)
            return saveFailed(o.distortion, text.message());
        files.push_back({o.distortion, *text, "Distortion written to " + o.distortion});
    }
    if (!o.room.empty()) {
        if (const Status room = session.analyseRoom(o.roomSettings); !room)
            return saveFailed(o.room, room.message());
        files.push_back({o.room, RoomReport::csv(*session.lastLogSweep()->room), "Room figures written to " + o.room});
    }
    if (const Status added = addTimeFrequencyFiles(*session.lastLogSweep(), o.timeFrequency, files); !added)
        return report(added, err);
    if (!o.png.empty()) {
        Result<std::string> bytes = pictureBytes(r.response, o.legend);
        if (!bytes)
            return saveFailed(o.png, bytes.message());
        files.push_back({o.png, std::move(*bytes), "Picture written to " + o.png});
    }
    if (!o.frd.empty()) {
        const audimera::Result<std::string> text =
            ExchangeFiles::frdText(r.response, LogSweepMeasurement::frdComments(r, o.settings));
        if (!text)
            return saveFailed(o.frd, text.message());
        files.push_back({o.frd, *text, "FRD written to " + o.frd});
    }
    const std::vector<CurvePoint> curve = CurveFile::curvePoints(r.response);
    const audimera::Result<std::string> curveText = CurveFile::text(curve);
    if (!o.out.empty()) {
        if (!curveText)
            return saveFailed(o.out, curveText.message());
        files.push_back({o.out, *curveText, "Curve written to " + o.out});
    }
    if (const Status written = writeOutputs(files, err); !written)
        return report(written, err);
    if (o.out.empty() && o.frd.empty()) {
        if (!curveText) {
            err << "The curve is not printed: " << curveText.message() << '\n';
            return FileError;
        }
        for (const CurvePoint& p : curve)
            out << CurveFile::record(p.frequency, p.level) << '\n';
    }
    return Measured;
}

} // namespace MeasureCommand

} // namespace audimera

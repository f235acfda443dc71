#include "cli/EqCommand.h"

#include "cli/CommandSetup.h"
#include "cli/ExitCode.h"
#include "common/AudioFormat.h"
#include "curves/CurveFile.h"
#include "curves/ExchangeFiles.h"
#include "curves/ImpulseFile.h"
#include "engine/EqDesign.h"
#include "engine/EqExport.h"

#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>
#include <ostream>

namespace audimera {

namespace MeasureCommand {

namespace {

constexpr double MinRate = 8000;
constexpr double MaxRate = 384000;

struct Options {
    std::string trace;
    std::string targetFile; // empty: the built-in target
    std::optional<double> tilt;
    std::optional<double> level;
    EqFitSettings fit;
    std::size_t firTaps = EqExport::DefaultFirTaps;
    std::string apo, camilla, pipewire, fir, predicted;

    std::vector<OutputFile> outputs() const
    {
        return {{"--apo", apo},
                {"--camilladsp", camilla},
                {"--pipewire", pipewire},
                {"--fir", fir},
                {"--predicted", predicted}};
    }
};

// A whole number from text, no sign, no point.
bool parseWhole(const std::string& text, long long& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

Status parse(const std::vector<std::string>& args, Options& o)
{
    auto bad = [](std::string what) { return Error::of(Failure::BadInput, std::move(what)); };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v, w;
        double d = 0;
        long long n = 0;
        // A number option's value into into; false when missing or no number.
        auto number = [&](double& into) { return takeValue(args, i, v) && parseNumber(v, into); };
        if (a == "--target") {
            if (!takeValue(args, i, v))
                return bad("--target needs flat or a file");
            o.targetFile = v == "flat" ? std::string() : v;
        } else if (a == "--tilt") {
            if (!number(d) || std::abs(d) > 6)
                return bad("--tilt needs a slope in dB per octave, -6 to 6");
            o.tilt = d;
        } else if (a == "--level") {
            if (!number(d))
                return bad("--level needs a level in dB");
            o.level = d;
        } else if (a == "--range") {
            if (!number(o.fit.lowHz) || !number(o.fit.highHz))
                return bad("--range needs LO and HI in Hz, with '.' as the decimal point");
            if (!(o.fit.lowHz < o.fit.highHz))
                return bad("--range needs LO below HI");
        } else if (a == "--filters") {
            if (!takeValue(args, i, v) || !parseWhole(v, n) || n < 1 || n > EqFitSettings::MaxFilters)
                return bad("--filters needs a count from 1 to " + std::to_string(EqFitSettings::MaxFilters));
            o.fit.filters = int(n);
        } else if (a == "--max-boost") {
            if (!number(o.fit.maxBoostDb) || o.fit.maxBoostDb < 0)
                return bad("--max-boost needs a gain in dB, 0 (cuts only) or more");
        } else if (a == "--max-cut") {
            if (!number(o.fit.maxCutDb) || o.fit.maxCutDb < 0)
                return bad("--max-cut needs a gain in dB, 0 or more");
        } else if (a == "--rate") {
            if (!takeValue(args, i, v) || !parseWhole(v, n) || n < MinRate || n > MaxRate)
                return bad("--rate needs a whole number of Hz from 8000 to 384000");
            o.fit.rate = double(n);
        } else if (a == "--fir-taps") {
            if (!takeValue(args, i, v) || !parseWhole(v, n) || n < static_cast<long long>(EqExport::MinFirTaps)
                || n > static_cast<long long>(EqExport::MaxFirTaps))
                return bad("--fir-taps needs a count from " + std::to_string(EqExport::MinFirTaps) + " to "
                           + std::to_string(EqExport::MaxFirTaps));
            o.firTaps = std::size_t(n);
        } else if (a == "--apo" || a == "--camilladsp" || a == "--pipewire" || a == "--fir" || a == "--predicted") {
            std::string& into = a == "--apo"           ? o.apo
                                : a == "--camilladsp" ? o.camilla
                                : a == "--pipewire"   ? o.pipewire
                                : a == "--fir"        ? o.fir
                                                      : o.predicted;
            if (!takeValue(args, i, into))
                return bad(a + " needs a file");
        } else if (a.rfind("--", 0) == 0) {
            return bad("unknown option '" + a + "'");
        } else if (!o.trace.empty()) {
            return bad("eq reads one trace");
        } else {
            o.trace = a;
        }
    }
    if (o.trace.empty())
        return bad("eq needs a trace file");
    if (o.tilt && !o.targetFile.empty())
        return bad("--tilt shapes the built-in target; it does not apply to a target file");
    return {};
}

// A figure for the table, with decimals decimals and "." as the point.
std::string fixed(double value, int decimals, bool sign = false)
{
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0;
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    std::string s = ec == std::errc() ? std::string(text, end) : std::string("?");
    return sign && value >= 0 ? "+" + s : s;
}

std::string padded(const std::string& text, std::size_t width, bool left = false)
{
    if (text.size() >= width)
        return text;
    const std::string fill(width - text.size(), ' ');
    return left ? text + fill : fill + text;
}

const char* typeName(EqFilter::Type type)
{
    switch (type) {
    case EqFilter::Type::LowShelf:
        return "low shelf";
    case EqFilter::Type::HighShelf:
        return "high shelf";
    case EqFilter::Type::Peaking:
        break;
    }
    return "peaking";
}

// The filter table, the preamp and the residual, as the command prints them.
std::string filterTable(const EqFit& fit, const EqFitSettings& settings)
{
    std::string s = " #  type         freq Hz   gain dB       Q\n";
    for (std::size_t i = 0; i < fit.filters.size(); ++i) {
        const EqFilter& f = fit.filters[i];
        s += padded(std::to_string(i + 1), 2) + "  " + padded(typeName(f.type), 10, true) + padded(fixed(f.hz, 1), 10)
             + padded(fixed(f.gainDb, 2, true), 10) + padded(fixed(f.q, 3), 8)
             + (f.shelfSlope && f.type != EqFilter::Type::Peaking ? " (slope S)" : "") + "\n";
    }
    if (fit.filters.empty())
        s += "    (none: no filter of " + fixed(EqFitSettings::DropBelowDb, 1) + " dB or more helps)\n";
    s += "Preamp: " + fixed(eqPreampDb(fit.filters, settings.rate), 2) + " dB\n";
    s += "Residual " + fixed(settings.lowHz, 0) + "-" + fixed(settings.highHz, 0) + " Hz: RMS " + fixed(fit.rmsDb, 2)
         + " dB, max " + fixed(fit.maxDb, 2) + " dB (before: RMS " + fixed(fit.rmsBeforeDb, 2) + " dB, max "
         + fixed(fit.maxBeforeDb, 2) + " dB)\n";
    return s;
}

// The trace with the EQ: levels as predictedResponse() gives them, and the
// EQ's phase added where the trace has a phase.
std::vector<ResponsePoint> predicted(const std::vector<ResponsePoint>& trace, const std::vector<EqFilter>& filters,
                                     double rate)
{
    const std::vector<CurvePoint> levels = predictedResponse(CurveFile::curvePoints(trace), filters, rate);
    std::vector<ResponsePoint> out;
    for (std::size_t i = 0; i < trace.size() && i < levels.size(); ++i) {
        std::optional<double> phase;
        if (trace[i].phase) {
            const double eq = std::arg(eqResponse(filters, trace[i].frequency, rate)) * 180 / std::numbers::pi;
            phase = std::remainder(*trace[i].phase + eq, 360.0);
        }
        out.push_back({levels[i].frequency, levels[i].level, phase});
    }
    return out;
}

// The files asked for, made from the fit; the first that cannot be made
// fails the lot.
Status exports(const Options& o, const EqFit& fit, const std::vector<ResponsePoint>& trace,
               std::vector<PendingFile>& files)
{
    const std::vector<EqFilter>& filters = fit.filters;
    const double rate = o.fit.rate;
    using Maker = Result<std::string> (*)(const std::vector<EqFilter>&, double);
    const struct {
        const std::string& path;
        Maker make;
        const char* said;
    } texts[] = {{o.apo, EqExport::apoText, "EqualizerAPO filters written to "},
                 {o.camilla, EqExport::camillaYaml, "CamillaDSP filters written to "},
                 {o.pipewire, EqExport::pipewireConf, "PipeWire filter chain written to "}};
    for (const auto& t : texts) {
        if (t.path.empty())
            continue;
        const Result<std::string> text = t.make(filters, rate);
        if (!text)
            return text.error();
        files.push_back({t.path, *text, t.said + t.path});
    }
    if (!o.fir.empty()) {
        const Result<std::vector<float>> taps = EqExport::firTaps(filters, rate, o.firTaps);
        if (!taps)
            return taps.error();
        const Result<std::string> wav = ImpulseFile::wavBytes(*taps, int(rate));
        if (!wav)
            return Error::of(Failure::File, CurveFile::saveError(o.fir, wav.message()));
        files.push_back({o.fir, *wav, "FIR of " + std::to_string(o.firTaps) + " taps written to " + o.fir});
    }
    if (!o.predicted.empty()) {
        const Result<std::string> frd =
            ExchangeFiles::frdText(predicted(trace, filters, rate),
                                   {"Audimera predicted response: " + o.trace + " with the EQ of "
                                        + std::to_string(filters.size()) + " filters at " + fixed(rate, 0)
                                        + " Hz, without the preamp",
                                    "Frequency(Hz) Magnitude(dB) Phase(degrees)"});
        if (!frd)
            return Error::of(Failure::BadInput, "the predicted response cannot be written: " + frd.message());
        files.push_back({o.predicted, *frd, "Predicted response written to " + o.predicted});
    }
    return {};
}

} // namespace

std::string eqUsage()
{
    return R"(  audimera-measure eq TRACE [options]
      Designs a parametric equaliser (peaking and shelving biquads after the
      Audio EQ Cookbook) that brings the response in TRACE (a curve, FRD or
      calibration file) toward a target over a range; prints the filters,
      the preamp and the residual (RMS and largest deviation from the
      target over the range, before and after), and writes them in the
      forms equalisers read. Every form carries the preamp (minus the EQ's
      highest boost), so nothing clips; the files are written all or none.

      --target flat|FILE   flat (default), or a house curve: a file of
                           "frequency level" lines, as Load Trace reads
      --tilt DB_PER_OCT    tilt the built-in target about 1 kHz, -6 to 6
      --level DB           where the target sits (default: the trace's mean
                           level over the range)
      --range LO HI        the fit range in Hz, within 20 to 20000 and within
                           the trace (default 20 500)
      --filters N          at most N filters, 1 to 20 (default 10)
      --max-boost DB       the most any filter boosts; 0 cuts only (default 3)
      --max-cut DB         the most any filter cuts (default 15)
      --rate HZ            the rate the filters run at, 8000 to 384000
                           (default 48000)
      --apo FILE           write EqualizerAPO-style text ("Preamp:" and
                           "Filter n: ON PK Fc ... Hz Gain ... dB Q ..." lines)
      --camilladsp FILE    write a CamillaDSP filters and pipeline fragment
      --pipewire FILE      write a PipeWire filter-chain configuration that
                           adds the sink "Audimera EQ"; run pipewire -c FILE
      --fir FILE           write the EQ as a minimum-phase FIR (WAV, mono,
                           32-bit float, at --rate)
      --fir-taps N         its length, 256 to 262144 (default 16384)
      --predicted FILE     write the trace with the EQ as FRD (the preamp
                           left out)
)";
}

int eq(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    Options o;
    if (const Status parsed = parse(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage;
        return exitCodeFor(parsed);
    }
    std::vector<std::string> inputs{o.trace};
    if (!o.targetFile.empty())
        inputs.push_back(o.targetFile);
    if (const Status checked = checkOutputs(inputs, o.outputs()); !checked)
        return report(checked, err);

    // What the file holds is the user's input: a field that is no number, or
    // no points at all, is bad input; a file that cannot be read is a file
    // error.
    std::vector<ResponsePoint> trace;
    if (const Status read = CurveFile::read(o.trace, MaxTracePoints, trace); !read) {
        if (read.kind() == Failure::File) {
            err << "Error loading file '" << o.trace << "' : " << read.message() << '\n';
            return FileError;
        }
        err << "Bad trace '" << o.trace << "': " << read.message() << '\n';
        return BadUsage;
    }
    if (trace.empty()) {
        err << "Bad trace '" << o.trace << "': no points were found\n";
        return BadUsage;
    }

    EqTarget target;
    if (!o.targetFile.empty()) {
        target.kind = EqTarget::Kind::File;
        if (const Status loaded = loadHouseCurve(o.targetFile, target); !loaded) {
            const std::string& why = loaded.message();
            if (loaded.kind() == Failure::File)
                err << "Error loading file '" << o.targetFile << "' : " << why << '\n';
            else if (why.find(o.targetFile) != std::string::npos)
                err << "Bad target: " << why << '\n';
            else
                err << "Bad target '" << o.targetFile << "': " << why << '\n';
            return loaded.kind() == Failure::File ? FileError : BadUsage;
        }
    } else if (o.tilt) {
        target.kind = EqTarget::Kind::Shape;
        target.tiltDbPerOctave = *o.tilt;
    }
    target.levelDb = o.level;

    const Result<EqFit> fit = fitEq(CurveFile::curvePoints(trace), target, o.fit);
    if (!fit) {
        err << "'" << o.trace << "': " << fit.message() << '\n';
        return exitCodeFor(fit);
    }
    err << "Trace '" << o.trace << "': " << trace.size() << " points, " << fixed(trace.front().frequency, 1) << " to "
        << fixed(trace.back().frequency, 1) << " Hz; target " << (o.targetFile.empty() ? "built in" : o.targetFile)
        << " at " << fixed(fit->targetLevelDb, 2) << " dB; filters at " << fixed(o.fit.rate, 0) << " Hz\n";

    std::vector<PendingFile> files;
    if (const Status made = exports(o, *fit, trace, files); !made)
        return report(made, err);
    if (const Status written = writeOutputs(files, err); !written)
        return report(written, err);
    out << filterTable(*fit, o.fit);
    return Measured;
}

} // namespace MeasureCommand

} // namespace audimera

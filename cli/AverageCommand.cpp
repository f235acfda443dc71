#include "cli/AverageCommand.h"

#include "cli/CommandSetup.h"
#include "cli/ExitCode.h"
#include "curves/ExchangeFiles.h"
#include "curves/ImpulseFile.h"
#include "signal/RealFft.h"
#include "signal/ResponseAverage.h"
#include "signal/TimeAlignment.h"

#include <cmath>
#include <iomanip>
#include <numbers>
#include <optional>
#include <ostream>
#include <sstream>

namespace audimera {

namespace MeasureCommand {

namespace {

struct Options {
    std::vector<std::string> files;
    std::optional<AverageMode> mode;
    bool align = false;
    std::string out, frd;
    double temperature = 20;
    AlignmentBand band;
};

Error bad(std::string what)
{
    return Error::of(Failure::BadInput, std::move(what));
}

// "LOW-HIGH" in Hz, LOW below HIGH, both at least 0.
bool parseBand(const std::string& text, AlignmentBand& band)
{
    const std::size_t dash = text.find('-', 1);
    double low = 0, high = 0;
    if (dash == std::string::npos || !parseNumber(text.substr(0, dash), low)
        || !parseNumber(text.substr(dash + 1), high) || !(low >= 0 && high > low))
        return false;
    band = {low, high};
    return true;
}

Status parse(const std::vector<std::string>& args, Options& o)
{
    const bool averaging = args[0] == "average";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (averaging && a == "--mode") {
            if (!takeValue(args, i, v))
                return bad("--mode needs rms, db or vector");
            const Result<AverageMode> mode = parseAverageMode(v);
            if (!mode)
                return mode.error();
            o.mode = *mode;
        } else if (averaging && a == "--align") {
            o.align = true;
        } else if (averaging && (a == "--out" || a == "--frd")) {
            if (!takeValue(args, i, a == "--out" ? o.out : o.frd))
                return bad(a + " needs a file");
        } else if (!averaging && a == "--temperature") {
            if (!takeValue(args, i, v) || !parseNumber(v, o.temperature) || !(o.temperature > -273.15))
                return bad("--temperature needs degrees Celsius above -273.15");
        } else if (!averaging && a == "--band") {
            if (!takeValue(args, i, v) || !parseBand(v, o.band))
                return bad("--band needs LOW-HIGH in Hz, LOW below HIGH");
        } else if (a.rfind("--", 0) == 0) {
            return bad("unknown option '" + a + "'");
        } else {
            o.files.push_back(a);
        }
    }
    if (o.files.size() < 2)
        return bad(args[0] + " needs at least two impulse response files");
    if (!averaging)
        return {};
    if (!o.mode)
        return bad("average needs --mode rms, db or vector");
    if (o.align && *o.mode != AverageMode::Vector)
        return bad("--align applies to the vector average only (rms and db keep no phase)");
    if (o.out.empty() && o.frd.empty())
        return bad("average needs --out WAV or --frd FRD");
    return {};
}

// The files' first channels, all at one rate; reports what fails and
// returns its exit code through code.
std::optional<std::vector<ImpulseFile::Impulse>> readAll(const std::vector<std::string>& files, std::ostream& err,
                                                         int& code)
{
    std::vector<ImpulseFile::Impulse> impulses;
    for (const std::string& file : files) {
        Result<ImpulseFile::Impulse> read = ImpulseFile::read(file);
        if (!read) {
            err << "Error loading file '" << file << "' : " << read.message() << '\n';
            code = exitCodeFor(read);
            return std::nullopt;
        }
        if (!impulses.empty() && read->rate != impulses.front().rate) {
            err << "audimera-measure: '" << file << "' is at " << read->rate << " Hz, '" << files.front() << "' at "
                << impulses.front().rate << " Hz: the responses must share one rate\n";
            code = BadUsage;
            return std::nullopt;
        }
        impulses.push_back(std::move(*read));
    }
    return impulses;
}

// The response of an impulse every 1/48 octave from 10 Hz to 0.95 times half
// the rate, on the nearest bins of its transform zero-padded to twice its
// length; the phase as the impulse holds it (time 0 at its first sample).
std::vector<ResponsePoint> responseOf(const std::vector<float>& impulse, int rate)
{
    RealFft fft(RealFft::goodLength(2 * impulse.size()));
    std::copy(impulse.begin(), impulse.end(), fft.time());
    std::fill(fft.time() + impulse.size(), fft.time() + fft.size(), 0.0);
    fft.forward();
    const double binHz = double(rate) / double(fft.size());
    std::vector<ResponsePoint> points;
    for (double f = 10; f <= 0.95 * rate / 2; f *= std::exp2(1 / 48.0)) {
        const auto k = std::size_t(std::llround(f / binHz));
        if (!points.empty() && std::abs(points.back().frequency - double(k) * binHz) < binHz / 2)
            continue;
        const std::complex<double> h = fft.spectrum()[k];
        points.push_back({double(k) * binHz, 20 * std::log10(std::max(std::abs(h), 1e-15)),
                          std::arg(h) * 180 / std::numbers::pi});
    }
    return points;
}

} // namespace

std::string averageUsage()
{
    return R"(  audimera-measure average FILE... --mode rms|db|vector [--align]
                           (--out WAV | --frd FRD)
      Averages impulse responses read from sound files (the first channel,
      all at one rate, each zero-padded to the longest): rms (power) and db
      (the mean level) average the magnitudes and give the minimum-phase
      response of the average; vector averages the complex responses, which
      cancel where they arrive out of phase.

      --mode rms|db|vector  the average
      --align              vector: first line each response up with the
                           first (the delay 'align' prints)
      --out WAV            write the average as a 32-bit float WAV file
      --frd FILE           write its response (dB, degrees) as FRD

  audimera-measure align REF FILE... [options]
      Prints each FILE's delay after the impulse response REF in samples,
      ms and metres, to a fraction of a sample: the centre of the main lobe
      of their cross-correlation (the mean group delay between them,
      weighted by their shared power), with the band where it stands above
      its noise and how nearly the two differ by that delay alone
      (confidence 0 to 1).

      --temperature C      the air's temperature for metres (default 20)
      --band LOW-HIGH      read the delay over LOW to HIGH Hz only
)";
}

int average(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    Options o;
    if (const Status parsed = parse(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage;
        return exitCodeFor(parsed);
    }
    if (const Status checked = checkOutputs(o.files, {{"--out", o.out}, {"--frd", o.frd}}); !checked)
        return report(checked, err);
    int code = Measured;
    const std::optional<std::vector<ImpulseFile::Impulse>> read = readAll(o.files, err, code);
    if (!read)
        return code;
    const int rate = read->front().rate;
    std::vector<std::vector<float>> impulses;
    for (const ImpulseFile::Impulse& impulse : *read)
        impulses.push_back(impulse.samples);
    std::vector<double> shifts;
    if (o.align) {
        for (const std::vector<float>& impulse : impulses) {
            const Result<Alignment> found = TimeAlignment::delay(impulses.front(), impulse, rate);
            if (!found)
                return report(found.error(), err);
            shifts.push_back(-found->delaySamples);
        }
    }
    const Result<std::vector<float>> averaged = ResponseAverage::ofImpulses(impulses, rate, *o.mode, shifts);
    if (!averaged)
        return report(averaged.error(), err);

    std::vector<PendingFile> files;
    if (!o.out.empty()) {
        const Result<std::string> bytes = ImpulseFile::wavBytes(*averaged, rate);
        if (!bytes)
            return report(Error::of(Failure::File, "Error saving file '" + o.out + "' : " + bytes.message()), err);
        files.push_back({o.out, *bytes, "Average written to " + o.out});
    }
    if (!o.frd.empty()) {
        const Result<std::string> text = ExchangeFiles::frdText(
            responseOf(*averaged, rate), {"Audimera average (" + averageModeName(*o.mode) + ") of "
                                          + std::to_string(impulses.size()) + " impulse responses"});
        if (!text)
            return report(Error::of(Failure::File, "Error saving file '" + o.frd + "' : " + text.message()), err);
        files.push_back({o.frd, *text, "FRD written to " + o.frd});
    }
    if (const Status written = writeOutputs(files, err); !written)
        return report(written, err);
    out << "Averaged " << impulses.size() << " impulse responses (" << averageModeName(*o.mode)
        << (o.align ? ", aligned to the first" : "") << ") at " << rate << " Hz, " << averaged->size() << " samples\n";
    if (o.align) {
        out << std::fixed << std::setprecision(3);
        for (std::size_t i = 1; i < shifts.size(); ++i)
            out << "  " << o.files[i] << ": moved " << shifts[i] << " samples\n";
    }
    return Measured;
}

int align(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    Options o;
    if (const Status parsed = parse(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage;
        return exitCodeFor(parsed);
    }
    int code = Measured;
    const std::optional<std::vector<ImpulseFile::Impulse>> read = readAll(o.files, err, code);
    if (!read)
        return code;
    std::ostringstream table;
    table << std::fixed << "file,delay_samples,delay_ms,metres,low_hz,high_hz,confidence\n";
    for (std::size_t i = 1; i < read->size(); ++i) {
        const Result<Alignment> found =
            TimeAlignment::delay(read->front().samples, (*read)[i].samples, read->front().rate, o.band);
        if (!found) {
            err << "'" << o.files[i] << "': " << found.message() << '\n';
            return exitCodeFor(found);
        }
        // Rounded first, so that a response arriving with the reference
        // prints 0.000, not -0.000.
        const auto shown = [](double v, int digits) {
            return std::round(v * std::pow(10, digits)) / std::pow(10, digits) + 0.0;
        };
        table << o.files[i] << ',' << std::setprecision(3) << shown(found->delaySamples, 3) << ','
              << std::setprecision(4) << shown(found->delayMs, 4) << ','
              << shown(TimeAlignment::metres(found->delayMs, o.temperature), 4) << ','
              << std::setprecision(1) << found->lowHz << ',' << found->highHz << ',' << std::setprecision(3)
              << found->confidence << '\n';
    }
    out << table.str();
    return Measured;
}

} // namespace MeasureCommand

} // namespace audimera

#include "cli/TimeFrequencyOutputs.h"

#include "curves/CurveFile.h"
#include "display/models/ResponseImage.h"
#include "display/models/TimeFrequencyPlots.h"
#include "engine/ImpulseData.h"
#include "engine/MeasurementSession.h"
#include "signal/PhaseAnalysis.h"
#include "signal/Spectrogram.h"
#include "signal/Waterfall.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <string_view>

namespace audimera {

namespace MeasureCommand {

namespace {

// Lines end in CR LF, as every other file the command writes.
constexpr const char* LineEnd = "\r\n";

// The pictures' size in pixels: that of logsweep --png.
constexpr int PictureWidth = ResponseImage::DefaultWidth;
constexpr int PictureHeight = 2 * ResponseImage::DefaultHeight;

// Decimals written, well below what the analyses resolve: the rounding
// noise of a transform (a phase of 1e-14 degrees) is not written as a
// number that looks like a finding.
constexpr int HzDecimals = 4;
constexpr int MsDecimals = 5;
constexpr int DegDecimals = 4;
constexpr int DbDecimals = 3;

// value rounded to decimals, without trailing zeros, "." whatever the
// locale, and never "-0".
void appendNumber(std::string& out, double value, int decimals)
{
    char buf[352];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    std::string_view text(buf, ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0);
    if (text.find('.') != std::string_view::npos) {
        text.remove_suffix(text.size() - 1 - text.find_last_not_of('0'));
        if (text.back() == '.')
            text.remove_suffix(1);
    }
    if (text == "-0")
        text = "0";
    out += text;
}

// A cell that may be empty: missing (masked) or not finite.
void appendCell(std::string& out, const std::optional<double>& value, int decimals)
{
    out += ',';
    if (value && std::isfinite(*value))
        appendNumber(out, *value, decimals);
}

bool endsWith(const std::string& path, const char* extension)
{
    const std::string ext(extension);
    if (path.size() <= ext.size())
        return false;
    return std::equal(ext.begin(), ext.end(), path.end() - static_cast<std::ptrdiff_t>(ext.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// The picture format a file's name asks for, case aside; none for another.
std::optional<TimeFrequencyPlots::PictureFormat> pictureFormat(const std::string& path)
{
    if (endsWith(path, ".png"))
        return TimeFrequencyPlots::PictureFormat::Png;
    if (endsWith(path, ".svg"))
        return TimeFrequencyPlots::PictureFormat::Svg;
    return std::nullopt;
}

// An analysis's failure as the command says it, its kind kept.
Error analysisFailed(const char* what, const Error& error)
{
    return Error::of(error.kind, std::string(what) + " of the impulse response: " + error.message
                                     + "; nothing was written");
}

Status addPicture(const std::string& path, const std::function<void(DrawingSurface&)>& draw, const char* what,
                  std::vector<PendingFile>& pending)
{
    Result<std::string> bytes = TimeFrequencyPlots::pictureBytes(draw, PictureWidth, PictureHeight,
                                                                 *pictureFormat(path));
    if (!bytes)
        return Error::of(Failure::File, CurveFile::saveError(path, bytes.message()));
    pending.push_back({path, std::move(*bytes), std::string(what) + " written to " + path});
    return {};
}

} // namespace

bool TimeFrequencyFiles::any() const
{
    return !waterfall.empty() || !spectrogram.empty() || !groupDelay.empty() || !waterfallCsv.empty();
}

std::vector<OutputFile> TimeFrequencyFiles::outputs() const
{
    return {{"--waterfall", waterfall},
            {"--spectrogram", spectrogram},
            {"--group-delay", groupDelay},
            {"--waterfall-csv", waterfallCsv}};
}

std::optional<Status> parseTimeFrequencyOption(const std::vector<std::string>& args, std::size_t& i,
                                               TimeFrequencyFiles& files)
{
    const std::string& a = args[i];
    const bool picture = a == "--waterfall" || a == "--spectrogram";
    std::string* into = a == "--waterfall"       ? &files.waterfall
                        : a == "--spectrogram"   ? &files.spectrogram
                        : a == "--group-delay"   ? &files.groupDelay
                        : a == "--waterfall-csv" ? &files.waterfallCsv
                                                 : nullptr;
    if (!into)
        return std::nullopt;
    if (!takeValue(args, i, *into))
        return Error::of(Failure::BadInput, a + " needs a file");
    if (picture && !pictureFormat(*into))
        return Error::of(Failure::BadInput, a + " needs a file ending in .png or .svg, not '" + *into + "'");
    return Status();
}

std::string timeFrequencyUsage()
{
    return R"(      --waterfall FILE     the cumulative spectral decay (a waterfall: 30
                           slices, 0 to 300 ms after the peak) as a picture,
                           PNG or SVG by the file's extension
      --spectrogram FILE   the spectrogram (20 ms Gaussian windows, 95 %
                           overlap, 60 dB), PNG or SVG
      --group-delay FILE   group delay, excess group delay (ms) and measured,
                           minimum and excess phase (degrees) as CSV; masked
                           points (40 dB below the highest) are empty cells
      --waterfall-csv FILE the waterfall's levels as CSV rows of
                           time_ms,frequency_hz,level_db
)";
}

Status addTimeFrequencyFiles(const LogSweepRun& run, const TimeFrequencyFiles& files,
                             std::vector<PendingFile>& pending)
{
    if (!files.any())
        return {};
    const std::shared_ptr<const ImpulseData> impulse = ImpulseData::of(run);
    if (!impulse)
        return Error::of(Failure::BadInput, "There is no impulse response to analyse; nothing was written");
    const ImpulseView& view = impulse->view();
    std::vector<PendingFile> made;

    if (!files.waterfall.empty() || !files.waterfallCsv.empty()) {
        const Result<WaterfallResult> slices = waterfall(view, WaterfallSettings{});
        if (!slices)
            return analysisFailed("The waterfall", slices.error());
        if (!files.waterfall.empty()) {
            const auto draw = [&](DrawingSurface& s) { TimeFrequencyPlots::drawWaterfall(s, &*slices); };
            if (const Status added = addPicture(files.waterfall, draw, "Waterfall", made); !added)
                return added;
        }
        if (!files.waterfallCsv.empty())
            made.push_back({files.waterfallCsv, waterfallCsv(*slices),
                            "Waterfall levels written to " + files.waterfallCsv});
    }
    if (!files.spectrogram.empty()) {
        const Result<SpectrogramResult> image = spectrogram(view, SpectrogramSettings{});
        if (!image)
            return analysisFailed("The spectrogram", image.error());
        const auto draw = [&](DrawingSurface& s) { TimeFrequencyPlots::drawSpectrogram(s, &*image); };
        if (const Status added = addPicture(files.spectrogram, draw, "Spectrogram", made); !added)
            return added;
    }
    if (!files.groupDelay.empty()) {
        const Result<PhaseResult> phase = analysePhase(view, PhaseSettings{});
        if (!phase)
            return analysisFailed("The phase analysis", phase.error());
        made.push_back(
            {files.groupDelay, groupDelayCsv(*phase), "Group delay and phase written to " + files.groupDelay});
    }
    for (PendingFile& f : made)
        pending.push_back(std::move(f));
    return {};
}

std::string groupDelayCsv(const PhaseResult& result)
{
    std::string text = "frequency_hz,group_delay_ms,excess_group_delay_ms,measured_phase_deg,minimum_phase_deg,"
                       "excess_phase_deg";
    text += LineEnd;
    text.reserve(text.size() + result.points.size() * 96);
    for (const PhasePoint& p : result.points) {
        appendNumber(text, p.hz, HzDecimals);
        appendCell(text, p.groupDelayMs, MsDecimals);
        appendCell(text, p.excessGroupDelayMs, MsDecimals);
        for (const std::optional<double>& degrees : {p.measuredDeg, p.minimumDeg, p.excessDeg})
            appendCell(text, degrees, DegDecimals);
        text += LineEnd;
    }
    return text;
}

std::string waterfallCsv(const WaterfallResult& result)
{
    std::string text = "time_ms,frequency_hz,level_db";
    text += LineEnd;
    text.reserve(text.size() + result.timesMs.size() * result.frequencies.size() * 32);
    const std::size_t slices = std::min(result.timesMs.size(), result.levelsDb.size());
    for (std::size_t k = 0; k < slices; ++k) {
        const std::vector<double>& levels = result.levelsDb[k];
        for (std::size_t j = 0; j < std::min(levels.size(), result.frequencies.size()); ++j) {
            appendNumber(text, result.timesMs[k], MsDecimals);
            text += ',';
            appendNumber(text, result.frequencies[j], HzDecimals);
            appendCell(text, levels[j], DbDecimals);
            text += LineEnd;
        }
    }
    return text;
}

} // namespace MeasureCommand

} // namespace audimera

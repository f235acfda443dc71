#include "curves/ExchangeFiles.h"

#include "curves/CurveFile.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace audimera {

namespace ExchangeFiles {

namespace {

// Lines end in CR LF, as the curve files do: the tools that read these
// files take both, and one line end for every file Audimera writes.
constexpr const char* LineEnd = "\r\n";

void appendNumber(std::string& out, double value)
{
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? end : buf);
}

// A cell that may be empty: a value that is missing or not finite (a level
// of silence) is left out rather than written as "inf", which no
// spreadsheet reads as a number.
void appendCell(std::string& out, const std::optional<double>& value)
{
    out += ',';
    if (value && std::isfinite(*value))
        appendNumber(out, *value);
}

audimera::Error notFinite(double frequency, double value)
{
    std::string text = "the point at ";
    appendNumber(text, frequency);
    text += " Hz holds ";
    appendNumber(text, value);
    return audimera::Error{text + ", not a finite number; nothing was written"};
}

// The first value of a point that is not finite, as an error.
std::optional<audimera::Error> firstNotFinite(const std::vector<ResponsePoint>& points, bool phase)
{
    for (const ResponsePoint& p : points)
        for (double v : {p.frequency, p.level, phase ? p.phase.value_or(0.0) : 0.0})
            if (!std::isfinite(v))
                return notFinite(p.frequency, v);
    return std::nullopt;
}

audimera::Status save(const std::string& path, const audimera::Result<std::string>& text)
{
    if (!text)
        return text.error();
    return CurveFile::writeText(path, *text);
}

} // namespace

audimera::Status writeFrd(const std::string& path, const std::vector<ResponsePoint>& points,
                          const std::vector<std::string>& comments)
{
    return save(path, frdText(points, comments));
}

audimera::Status writeCsv(const std::string& path, const std::vector<ResponsePoint>& points)
{
    return save(path, csvText(points));
}

audimera::Status writeDistortionCsv(const std::string& path, const std::vector<DistortionPoint>& points)
{
    return save(path, distortionCsvText(points));
}

audimera::Result<std::string> frdText(const std::vector<ResponsePoint>& points,
                                      const std::vector<std::string>& comments)
{
    if (auto bad = firstNotFinite(points, true))
        return *bad;
    std::string text;
    text.reserve(points.size() * 40 + 64);
    for (const std::string& comment : comments) {
        text += "* ";
        // A comment is one line; a break inside would start a line that is
        // no comment.
        for (char c : comment)
            text += c == '\r' || c == '\n' ? ' ' : c;
        text += LineEnd;
    }
    for (const ResponsePoint& p : points) {
        appendNumber(text, p.frequency);
        text += ' ';
        appendNumber(text, p.level);
        text += ' ';
        appendNumber(text, p.phase.value_or(0.0));
        text += LineEnd;
    }
    return text;
}

audimera::Result<std::string> csvText(const std::vector<ResponsePoint>& points)
{
    if (auto bad = firstNotFinite(points, false))
        return *bad;
    bool withPhase = false;
    for (const ResponsePoint& p : points)
        withPhase = withPhase || p.phase.has_value();
    std::string text = withPhase ? "frequency_hz,level_db,phase_deg" : "frequency_hz,level_db";
    text += LineEnd;
    text.reserve(points.size() * 40 + text.size());
    for (const ResponsePoint& p : points) {
        appendNumber(text, p.frequency);
        text += ',';
        appendNumber(text, p.level);
        if (withPhase)
            appendCell(text, p.phase);
        text += LineEnd;
    }
    return text;
}

audimera::Result<std::string> distortionCsvText(const std::vector<DistortionPoint>& points)
{
    for (const DistortionPoint& p : points)
        if (!std::isfinite(p.frequency))
            return notFinite(p.frequency, p.frequency);
    std::string text = "frequency_hz,h2_db,h3_db,h4_db,h5_db,thd_percent";
    text += LineEnd;
    text.reserve(points.size() * 100 + text.size());
    for (const DistortionPoint& p : points) {
        appendNumber(text, p.frequency);
        for (const std::optional<double>& h : p.harmonicDb)
            appendCell(text, h);
        appendCell(text, p.thdPercent);
        text += LineEnd;
    }
    return text;
}

} // namespace ExchangeFiles

} // namespace audimera

#include "curves/ExchangeFiles.h"

#include "curves/CurveFile.h"

#include <charconv>
#include <cmath>

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

} // namespace

audimera::Status writeFrd(const std::string& path, const std::vector<ResponsePoint>& points,
                          const std::vector<std::string>& comments)
{
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
    return CurveFile::writeText(path, text);
}

audimera::Status writeCsv(const std::string& path, const std::vector<ResponsePoint>& points)
{
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
    return CurveFile::writeText(path, text);
}

audimera::Status writeDistortionCsv(const std::string& path, const std::vector<DistortionPoint>& points)
{
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
    return CurveFile::writeText(path, text);
}

} // namespace ExchangeFiles

} // namespace audimera

#include "engine/RoomReport.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace audimera {

namespace RoomReport {

namespace {

constexpr const char* LineEnd = "\r\n";

// The flags in the order the legend and the CSV list them.
constexpr RoomFlag FlagOrder[] = {NoValue, LowPeakToNoise, LowCorrelation, FilterLimited};

// value with decimals decimals, '.' whatever the locale; a value that rounds
// to zero without its sign.
std::string number(double value, int decimals)
{
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0;
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

// The shortest text that reads back as value ("1250", "31.5").
std::string shortest(double value)
{
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

struct Column {
    const char* title;
    const RoomValue RoomBand::*value;
    const char* name; // in the flags cell
    int decimals;
};

constexpr Column ValueColumns[] = {
    {"EDT s", &RoomBand::edt, "edt", 3}, {"T20 s", &RoomBand::t20, "t20", 3}, {"T30 s", &RoomBand::t30, "t30", 3},
    {"C50 dB", &RoomBand::c50, "c50", 2}, {"C80 dB", &RoomBand::c80, "c80", 2}, {"D50", &RoomBand::d50, "d50", 3},
    {"Ts ms", &RoomBand::ts, "ts", 1},
};

constexpr int RDecimals = 4;
constexpr int PnrDecimals = 1;

bool correlationLow(const RoomFit& fit)
{
    return fit.valid && std::abs(fit.r) < RoomAcoustics::MinCorrelation;
}

std::string padLeft(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

} // namespace

const char* flagName(RoomFlag flag)
{
    switch (flag) {
    case LowCorrelation:
        return "low-correlation";
    case LowPeakToNoise:
        return "low-pnr";
    case FilterLimited:
        return "filter-limited";
    case NoValue:
        return "no-value";
    }
    return "";
}

double bandHz(const RoomBandPlan& band)
{
    if (band.fraction == 0)
        return 0;
    const std::string& label = band.label;
    const bool kilo = !label.empty() && label.back() == 'k';
    double hz = 0;
    const char* last = label.data() + label.size() - (kilo ? 1 : 0);
    const auto [end, ec] = std::from_chars(label.data(), last, hz);
    if (ec != std::errc() || end != last)
        return band.centreHz;
    return kilo ? hz * 1000 : hz;
}

std::string table(const RoomResults& results)
{
    constexpr std::size_t BandWidth = 10, Width = 9;
    std::string text = "band";
    text += std::string(BandWidth - 4, ' ');
    // Titles line up with the numbers, the mark's place left blank.
    for (const Column& c : ValueColumns)
        text += padLeft(std::string(c.title) + ' ', Width);
    for (const char* title : {"r (T20)", "r (T30)", "PNR dB"})
        text += padLeft(std::string(title) + ' ', Width);
    auto endLine = [&] {
        // No trailing blanks.
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        text += '\n';
    };
    endLine();

    unsigned seen = 0;
    auto cell = [&](const std::optional<double>& value, bool marked, int decimals) {
        text += padLeft(value ? number(*value, decimals) + (marked ? '*' : ' ') : std::string("- "), Width);
    };
    for (const RoomBand& b : results.bands) {
        const std::string label = b.band.fraction == 0 ? "Broadband" : b.band.label;
        text += label + std::string(label.size() < BandWidth ? BandWidth - label.size() : 1, ' ');
        for (const Column& c : ValueColumns) {
            const RoomValue& v = b.*c.value;
            seen |= v.flags;
            cell(v.value, v.flags != 0, c.decimals);
        }
        for (const RoomFit* fit : {&b.t20Fit, &b.t30Fit}) {
            const bool low = correlationLow(*fit);
            if (low)
                seen |= LowCorrelation;
            cell(fit->valid ? std::optional<double>(fit->r) : std::nullopt, low, RDecimals);
        }
        cell(b.pnrDb, false, PnrDecimals);
        endLine();
    }
    if (seen) {
        text += "* marks a value not to be trusted:\n";
        for (RoomFlag flag : FlagOrder)
            if (seen & flag)
                text += std::string("  ") + flagName(flag) + ": " + RoomAcoustics::flagReason(flag) + '\n';
    }
    return text;
}

std::string csv(const RoomResults& results)
{
    std::string text = CsvHeader;
    text += LineEnd;
    for (const RoomBand& b : results.bands) {
        text += shortest(bandHz(b.band));
        std::string flags;
        for (const Column& c : ValueColumns) {
            const RoomValue& v = b.*c.value;
            text += ',';
            if (v.value && std::isfinite(*v.value))
                text += number(*v.value, c.decimals);
            for (RoomFlag flag : FlagOrder) {
                if (!(v.flags & flag))
                    continue;
                if (!flags.empty())
                    flags += ';';
                flags += std::string(c.name) + ':' + flagName(flag);
            }
        }
        for (const RoomFit* fit : {&b.t20Fit, &b.t30Fit}) {
            text += ',';
            if (fit->valid)
                text += number(fit->r, RDecimals);
        }
        text += ',' + number(b.pnrDb, PnrDecimals);
        text += ',' + flags;
        text += LineEnd;
    }
    return text;
}

} // namespace RoomReport

} // namespace audimera

#include "engine/EqExport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <sstream>

namespace audimera::EqExport {

namespace {

// Significant digits of the numbers written: far below what any equaliser
// resolves (a gain within 1e-6 dB, a frequency within 1e-4 Hz at 20 Hz),
// yet short enough to read.
constexpr int Digits = 7;

// value in plain decimal notation with Digits significant digits at most,
// '.' whatever the locale, without trailing zeros or an exponent ("1000",
// "-6.25", "0.7071068"); a value that rounds to zero is "0".
std::string number(double value)
{
    if (!(std::abs(value) >= 1e-9))
        return "0";
    const int magnitude = int(std::floor(std::log10(std::abs(value))));
    const int decimals = std::clamp(Digits - 1 - magnitude, 0, 12);
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    std::string s = ec == std::errc() ? std::string(text, end) : std::string("0");
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
            s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

// One enabled filter as every form writes it: its kind, frequency, gain and
// Q (a shelf given by its slope has its equivalent Q).
struct Band {
    EqFilter::Type type;
    double hz, gainDb, q;
};

// The enabled filters as bands, or why one of them cannot be written.
Result<std::vector<Band>> bandsOf(const std::vector<EqFilter>& filters, double rate)
{
    auto bad = [](std::size_t i, const std::string& why) {
        return Error::of(Failure::BadInput, "filter " + std::to_string(i + 1) + ": " + why);
    };
    if (!std::isfinite(rate) || !(rate > 0))
        return Error::of(Failure::BadInput, "the rate " + number(rate) + " Hz is not a positive number");
    std::vector<Band> bands;
    for (std::size_t i = 0; i < filters.size(); ++i) {
        const EqFilter& f = filters[i];
        if (!f.enabled)
            continue;
        if (!std::isfinite(f.hz) || !std::isfinite(f.gainDb) || !std::isfinite(f.q))
            return bad(i, "a frequency, gain or Q that is not a finite number");
        if (!(f.hz > 0) || !(f.hz < rate / 2))
            return bad(i, "the frequency " + number(f.hz) + " Hz does not lie between 0 and half the rate ("
                              + number(rate / 2) + " Hz)");
        if (!(f.q > 0))
            return bad(i, std::string(f.shelfSlope ? "the slope " : "the Q ") + number(f.q) + " is not positive");
        double q = f.q;
        if (f.type != EqFilter::Type::Peaking && f.shelfSlope) {
            // The cookbook: 1/Q = sqrt((A + 1/A)(1/S - 1) + 2).
            const double a = std::pow(10.0, f.gainDb / 40);
            const double inverseSquared = (a + 1 / a) * (1 / f.q - 1) + 2;
            if (!(inverseSquared > 0))
                return bad(i, "the slope " + number(f.q) + " is too steep for a shelf of " + number(f.gainDb) + " dB");
            q = 1 / std::sqrt(inverseSquared);
        }
        bands.push_back({f.type, f.hz, f.gainDb, q});
    }
    return bands;
}

const char* apoType(EqFilter::Type type)
{
    switch (type) {
    case EqFilter::Type::LowShelf:
        return "LSC";
    case EqFilter::Type::HighShelf:
        return "HSC";
    case EqFilter::Type::Peaking:
        break;
    }
    return "PK";
}

const char* camillaType(EqFilter::Type type)
{
    switch (type) {
    case EqFilter::Type::LowShelf:
        return "Lowshelf";
    case EqFilter::Type::HighShelf:
        return "Highshelf";
    case EqFilter::Type::Peaking:
        break;
    }
    return "Peaking";
}

const char* pipewireLabel(EqFilter::Type type)
{
    switch (type) {
    case EqFilter::Type::LowShelf:
        return "bq_lowshelf";
    case EqFilter::Type::HighShelf:
        return "bq_highshelf";
    case EqFilter::Type::Peaking:
        break;
    }
    return "bq_peaking";
}

// The first line of the configuration forms: what the file holds.
std::string summary(const std::vector<Band>& bands, double rate, double preampDb)
{
    return "Audimera EQ: " + std::to_string(bands.size()) + (bands.size() == 1 ? " filter" : " filters")
           + " designed at " + number(rate) + " Hz, preamp " + number(preampDb) + " dB";
}

} // namespace

Result<std::string> apoText(const std::vector<EqFilter>& filters, double rate)
{
    const Result<std::vector<Band>> bands = bandsOf(filters, rate);
    if (!bands)
        return bands.error();
    std::ostringstream out;
    out << "Preamp: " << number(eqPreampDb(filters, rate)) << " dB\n";
    for (std::size_t i = 0; i < bands->size(); ++i) {
        const Band& b = (*bands)[i];
        out << "Filter " << i + 1 << ": ON " << apoType(b.type) << " Fc " << number(b.hz) << " Hz Gain "
            << number(b.gainDb) << " dB Q " << number(b.q) << '\n';
    }
    return out.str();
}

Result<std::string> camillaYaml(const std::vector<EqFilter>& filters, double rate)
{
    const Result<std::vector<Band>> bands = bandsOf(filters, rate);
    if (!bands)
        return bands.error();
    const double preampDb = eqPreampDb(filters, rate);
    std::ostringstream out;
    out << "# " << summary(*bands, rate, preampDb) << ".\n"
        << "# The filters and pipeline sections of a CamillaDSP configuration, for\n"
        << "# two channels; the devices section (and its samplerate) is your own.\n"
        << "filters:\n"
        << "  audimera_preamp:\n"
        << "    type: Gain\n"
        << "    parameters:\n"
        << "      gain: " << number(preampDb) << '\n'
        << "      inverted: false\n";
    std::vector<std::string> names{"audimera_preamp"};
    for (std::size_t i = 0; i < bands->size(); ++i) {
        const Band& b = (*bands)[i];
        names.push_back("audimera_eq_" + std::to_string(i + 1));
        out << "  " << names.back() << ":\n"
            << "    type: Biquad\n"
            << "    parameters:\n"
            << "      type: " << camillaType(b.type) << '\n'
            << "      freq: " << number(b.hz) << '\n'
            << "      gain: " << number(b.gainDb) << '\n'
            << "      q: " << number(b.q) << '\n';
    }
    out << "pipeline:\n";
    for (int channel = 0; channel < 2; ++channel) {
        out << "  - type: Filter\n"
            << "    channel: " << channel << '\n'
            << "    names:\n";
        for (const std::string& name : names)
            out << "      - " << name << '\n';
    }
    return out.str();
}

Result<std::string> pipewireConf(const std::vector<EqFilter>& filters, double rate)
{
    const Result<std::vector<Band>> bands = bandsOf(filters, rate);
    if (!bands)
        return bands.error();
    const double preampDb = eqPreampDb(filters, rate);
    const std::vector<PipeWireNode> nodes = pipewireNodes(filters, rate);
    std::ostringstream out;
    // A whole configuration for a PipeWire process of its own, which joins
    // the user's PipeWire as a client: the boilerplate of a filter-chain
    // process, then the chain. The graph is mono; the module runs one copy
    // of it per channel.
    out << "# " << summary(*bands, rate, preampDb) << ".\n"
        << "# A PipeWire filter chain that adds the sink \"" << SinkName << "\" (" << SinkNodeName << ").\n"
        << "# Run it as: pipewire -c FILE (the full path of this file)\n"
        << "# The biquads take their coefficients at the graph's rate; a shelf whose Q\n"
        << "# is not 0.7071 is a Q 0.7071 shelf and two peaking filters that move its\n"
        << "# poles and zeros (exact at " << number(rate) << " Hz); the preamp is a high shelf at 0 Hz.\n"
        << "\n"
        << "context.properties = {\n"
        << "    log.level = 0\n"
        << "}\n"
        << "\n"
        << "context.spa-libs = {\n"
        << "    audio.convert.* = audioconvert/libspa-audioconvert\n"
        << "    support.*       = support/libspa-support\n"
        << "}\n"
        << "\n"
        << "context.modules = [\n"
        << "    { name = libpipewire-module-rt\n"
        << "        args = { }\n"
        << "        flags = [ ifexists nofail ]\n"
        << "    }\n"
        << "    { name = libpipewire-module-protocol-native }\n"
        << "    { name = libpipewire-module-client-node }\n"
        << "    { name = libpipewire-module-adapter }\n"
        << "    { name = libpipewire-module-filter-chain\n"
        << "        args = {\n"
        << "            node.description = \"" << SinkName << "\"\n"
        << "            media.name       = \"" << SinkName << "\"\n"
        << "            filter.graph = {\n"
        << "                nodes = [\n";
    for (const PipeWireNode& n : nodes)
        out << "                    { type = builtin name = " << n.name << " label = " << n.label
            << " control = { \"Freq\" = " << number(n.filter.hz) << " \"Q\" = " << number(n.filter.q)
            << " \"Gain\" = " << number(n.filter.gainDb) << " } }\n";
    out << "                ]\n"
        << "                links = [\n";
    for (std::size_t i = 1; i < nodes.size(); ++i)
        out << "                    { output = \"" << nodes[i - 1].name << ":Out\" input = \"" << nodes[i].name
            << ":In\" }\n";
    out << "                ]\n"
        << "                inputs  = [ \"" << nodes.front().name << ":In\" ]\n"
        << "                outputs = [ \"" << nodes.back().name << ":Out\" ]\n"
        << "            }\n"
        << "            audio.channels = 2\n"
        << "            audio.position = [ FL FR ]\n"
        << "            capture.props = {\n"
        << "                node.name   = \"" << SinkNodeName << "\"\n"
        << "                media.class = Audio/Sink\n"
        << "            }\n"
        << "            playback.props = {\n"
        << "                node.name    = \"" << SinkNodeName << ".output\"\n"
        << "                node.passive = true\n"
        << "            }\n"
        << "        }\n"
        << "    }\n"
        << "]\n";
    return out.str();
}

std::vector<PipeWireNode> pipewireNodes(const std::vector<EqFilter>& filters, double rate)
{
    constexpr double ShelfQ = 0.70710678118654752; // S = 1
    std::vector<PipeWireNode> nodes;
    // A high shelf at 0 Hz is its gain at every frequency.
    nodes.push_back({"preamp", "bq_highshelf", {EqFilter::Type::HighShelf, 0, eqPreampDb(filters, rate), ShelfQ}});
    const Result<std::vector<Band>> bands = bandsOf(filters, rate);
    if (!bands)
        return nodes;
    for (std::size_t i = 0; i < bands->size(); ++i) {
        const Band& b = (*bands)[i];
        const std::string name = "eq_" + std::to_string(i + 1);
        nodes.push_back({name, pipewireLabel(b.type), {b.type, b.hz, b.gainDb, b.type == EqFilter::Type::Peaking ? b.q : ShelfQ}});
        if (b.type == EqFilter::Type::Peaking || std::abs(b.q / ShelfQ - 1) < 1e-9)
            continue;
        // The shelf's analog prototype has its poles at w0 A^-1/2 (low
        // shelf; A^1/2 high) and its zeros at w0 A^1/2 (A^-1/2), both of Q
        // q. A peaking filter (gain A', Q q') has zeros of Q q'/A' and poles
        // of Q q'A' at its centre: one at the poles' frequency turns the
        // S = 1 shelf's poles (Q 1/sqrt 2) into poles of Q q, one at the
        // zeros' does the same for the zeros. The cookbook's filters are
        // bilinear transforms of their prototypes, so the three together
        // are the shelf exactly; a frequency w of the prototype lies at
        // rate/pi atan(tan(pi f0 / rate) w) Hz.
        const double a = std::pow(10.0, b.gainDb / 40);
        const double poles = b.type == EqFilter::Type::LowShelf ? 1 / std::sqrt(a) : std::sqrt(a);
        const auto at = [&](double w) {
            return rate / std::numbers::pi * std::atan(std::tan(std::numbers::pi * b.hz / rate) * w);
        };
        const double gainDb = 20 * std::log10(b.q / ShelfQ);
        const double q = std::sqrt(b.q * ShelfQ);
        nodes.push_back({name + "_poles", "bq_peaking", {EqFilter::Type::Peaking, at(poles), gainDb, q}});
        nodes.push_back({name + "_zeros", "bq_peaking", {EqFilter::Type::Peaking, at(1 / poles), -gainDb, q}});
    }
    return nodes;
}

Result<std::vector<float>> firTaps(const std::vector<EqFilter>& filters, double rate, std::size_t taps)
{
    if (taps < MinFirTaps || taps > MaxFirTaps)
        return Error::of(Failure::BadInput, "the FIR length " + std::to_string(taps) + " lies outside "
                                                + std::to_string(MinFirTaps) + " to " + std::to_string(MaxFirTaps)
                                                + " taps");
    if (const Result<std::vector<Band>> bands = bandsOf(filters, rate); !bands)
        return bands.error();
    // The cookbook's peaks and shelves are minimum phase (their zeros lie
    // inside the unit circle, whatever the gain), so the cascade's own
    // impulse response is the minimum-phase response of the summed EQ:
    // computed exactly by running the biquads, in double precision, on a
    // unit impulse scaled by the preamp.
    std::vector<double> h(taps, 0.0);
    h[0] = std::pow(10.0, eqPreampDb(filters, rate) / 20);
    for (const EqFilter& f : filters) {
        if (!f.enabled)
            continue;
        const Biquad b = biquadOf(f, rate);
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : h) {
            const double y = b.b0 * v + b.b1 * x1 + b.b2 * x2 - b.a1 * y1 - b.a2 * y2;
            x2 = x1;
            x1 = v;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    // What rings past the end is cut with a short half-cosine fade rather
    // than a step.
    const std::size_t fade = taps / 32;
    std::vector<float> out(taps);
    for (std::size_t i = 0; i < taps; ++i) {
        double w = 1;
        if (i >= taps - fade)
            w = 0.5 + 0.5 * std::cos(std::numbers::pi * double(i - (taps - fade) + 1) / double(fade + 1));
        out[i] = float(h[i] * w);
    }
    return out;
}

} // namespace audimera::EqExport

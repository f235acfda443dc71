#include "devices/SoundChain.h"

#include "common/Rounding.h"
#include "signal/ClockOffset.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Nyquist = SoundChain::SampleRate / 2.0;
constexpr double MaxDelayMs = 10000.0;
constexpr uint64_t NoiseSeed = 0x6E6F697365ULL; // "noise"

std::string_view trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Reads the whole text as a finite number.
bool readNumber(std::string_view text, double& value)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// Pre-warped frequency ratio of the bilinear transform: the analogue
// prototype's normalised frequency that the digital filter shows at hz.
double warped(double hz, double corner)
{
    return std::tan(Pi * hz / SoundChain::SampleRate) / std::tan(Pi * corner / SoundChain::SampleRate);
}

uint64_t splitMix64(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace

std::optional<SoundChain> SoundChain::parse(std::string_view text, std::string& error)
{
    SoundChain chain;
    if (trimmed(text).empty())
        return chain;
    int position = 1;
    while (true) {
        size_t comma = text.find(',');
        std::string_view item = trimmed(text.substr(0, comma));
        const std::string_view name = trimmed(item.substr(0, item.find('=')));
        // poly's value holds a comma: its second coefficient is the next field.
        if (name == "poly" && comma != std::string_view::npos) {
            comma = text.find(',', comma + 1);
            item = trimmed(text.substr(0, comma));
        }
        if (name == "refchannel") {
            const size_t equals = item.find('=');
            const std::string_view value =
                equals == std::string_view::npos ? std::string_view() : trimmed(item.substr(equals + 1));
            if (value == "left")
                chain.m_reference = Reference::Left;
            else if (value == "right")
                chain.m_reference = Reference::Right;
            else if (value == "none")
                chain.m_reference = Reference::None;
            else {
                error = "Bad value in sound chain item '" + std::string(item) + "': expected left, right or none";
                return std::nullopt;
            }
        } else if (name == "input") { // record channel: one microphone on a two-input card
            const size_t equals = item.find('=');
            const std::string_view value =
                equals == std::string_view::npos ? std::string_view() : trimmed(item.substr(equals + 1));
            if (value != "left" && value != "right") {
                error = "Bad value in sound chain item '" + std::string(item) + "': expected left or right";
                return std::nullopt;
            }
            chain.m_input = value == "left" ? Input::Left : Input::Right;
        } else {
            std::optional<Element> element = parseItem(item, position, error);
            if (!element)
                return std::nullopt;
            element->seed = NoiseSeed + uint64_t(position);
            chain.m_elements.push_back(std::move(*element));
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
        ++position;
    }
    chain.reset();
    return chain;
}

std::optional<SoundChain::Element> SoundChain::parseItem(std::string_view item, int position,
                                                         std::string& error)
{
    const std::string quoted = "'" + std::string(item) + "'";
    if (item.empty()) {
        error = "Empty item number " + std::to_string(position) + " in the sound chain";
        return std::nullopt;
    }
    const size_t equals = item.find('=');
    const std::string_view name = trimmed(item.substr(0, equals));
    const bool hasValue = equals != std::string_view::npos;
    double v = 0.0;
    const bool numeric = hasValue && readNumber(trimmed(item.substr(equals + 1)), v);

    Element e;
    auto bad = [&](const char* expected) {
        error = "Bad value in sound chain item " + quoted + ": expected " + expected;
        return std::nullopt;
    };

    if (name == "silence" || name == "mute") {
        if (hasValue) {
            error = "Sound chain item " + quoted + " takes no value";
            return std::nullopt;
        }
        e.kind = Kind::Silence;
        return e;
    }
    if (name == "gain") {
        if (!numeric || std::abs(v) > 200.0)
            return bad("a gain in dB from -200 to 200");
        e.kind = Kind::Gain;
        e.amount = std::pow(10.0, v / 20.0);
    } else if (name == "lowpass" || name == "highpass" || name == "lowpass2" || name == "highpass2") {
        if (!numeric || v <= 0.0 || v >= Nyquist)
            return bad("a corner frequency in Hz above 0 and below 22050");
        const double k = std::tan(Pi * v / SampleRate);
        if (name == "lowpass" || name == "highpass") {
            // H(s) = 1 / (1 + s) or s / (1 + s), s = (1 - 1/z) / (k (1 + 1/z)).
            const double norm = 1.0 / (1.0 + k);
            e.kind = name == "lowpass" ? Kind::LowPass : Kind::HighPass;
            e.b0 = name == "lowpass" ? k * norm : norm;
            e.b1 = name == "lowpass" ? k * norm : -norm;
            e.a1 = (k - 1.0) * norm;
        } else {
            // H(s) = 1 / (s^2 + sqrt2 s + 1), or s^2 over the same.
            const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
            const bool low = name == "lowpass2";
            e.kind = low ? Kind::LowPass2 : Kind::HighPass2;
            e.b0 = (low ? k * k : 1.0) * norm;
            e.b1 = (low ? 2.0 * k * k : -2.0) * norm;
            e.b2 = e.b0;
            e.a1 = 2.0 * (k * k - 1.0) * norm;
            e.a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
        }
    } else if (name == "noise") {
        if (!numeric || v > 0.0 || v < -200.0)
            return bad("a noise level in dBFS from -200 to 0");
        e.kind = Kind::Noise;
        e.amount = 32768.0 * std::pow(10.0, v / 20.0);
    } else if (name == "delay") {
        if (!numeric || v < 0.0 || v > MaxDelayMs)
            return bad("a delay in ms from 0 to 10000");
        e.kind = Kind::Delay;
        e.line.assign(size_t(audimera::nearestInt(v * SampleRate / 1000.0)), 0.0);
    } else if (name == "drop") {
        if (!numeric || v < 2.0 || v > 1e9 || v != std::floor(v))
            return bad("a whole number of samples, at least 2");
        e.kind = Kind::Drop;
    } else if (name == "drift") {
        if (!numeric || std::abs(v) > 1000.0)
            return bad("a clock offset in ppm from -1000 to 1000");
        e.kind = Kind::Drift;
    } else if (name == "poly") {
        // Two numbers, A2 and A3, separated by the comma parse() kept.
        const std::string_view values = hasValue ? item.substr(equals + 1) : std::string_view();
        const size_t comma = values.find(',');
        double a3 = 0.0;
        if (comma == std::string_view::npos || !readNumber(trimmed(values.substr(0, comma)), v)
            || !readNumber(trimmed(values.substr(comma + 1)), a3) || std::abs(v) > 10.0 || std::abs(a3) > 10.0)
            return bad("two coefficients A2,A3 from -10 to 10");
        e.kind = Kind::Poly;
        e.value2 = a3;
        e.poly = BandLimitedPoly(v, a3);
    } else if (name == "clip") {
        if (!numeric || v < 0.0)
            return bad("a clip level of 0 or more, in sample units");
        e.kind = Kind::Clip;
        e.amount = v;
    } else {
        error = "Unknown sound chain item " + quoted +
                " (known: gain, lowpass, highpass, lowpass2, highpass2, noise, delay, drop, drift, clip, poly, "
                "silence, mute, refchannel, input)";
        return std::nullopt;
    }
    e.value = v;
    return e;
}

void SoundChain::reset()
{
    for (Element& e : m_elements) {
        e.z1 = e.z2 = 0.0;
        e.rng = e.seed;
        e.hasSpare = false;
        std::fill(e.line.begin(), e.line.end(), 0.0);
        e.linePos = 0;
        e.count = 0;
        if (e.kind == Kind::Drift)
            e.line.clear();
        e.lineStart = 0;
        e.outputs = 0;
        if (e.kind == Kind::Poly)
            e.poly.reset();
    }
}

void SoundChain::drift(Element& e, std::vector<double>& samples)
{
    // Output m is the input at m / (1 + ppm 1e-6), written once the input
    // reaches Reach samples beyond it; silence before input sample 0.
    using ClockOffset::Interpolator;
    e.line.insert(e.line.end(), samples.begin(), samples.end());
    const int64_t end = e.lineStart + int64_t(e.line.size());
    const double step = 1.0 / (1.0 + e.value * 1e-6);
    const Interpolator& interpolator = Interpolator::instance();
    const auto x = [&](int64_t i) { return i >= e.lineStart && i < end ? e.line[size_t(i - e.lineStart)] : 0.0; };
    samples.clear();
    while (true) {
        const double t = double(e.outputs) * step;
        if (int64_t(std::floor(t)) + Interpolator::Reach >= end)
            break;
        samples.push_back(interpolator.at(x, t));
        ++e.outputs;
    }
    // Keep what the next output reaches back to.
    const int64_t keepFrom = int64_t(std::floor(double(e.outputs) * step)) - Interpolator::Reach;
    if (keepFrom > e.lineStart) {
        const auto drop = size_t(std::min<int64_t>(keepFrom - e.lineStart, int64_t(e.line.size())));
        e.line.erase(e.line.begin(), e.line.begin() + std::ptrdiff_t(drop));
        e.lineStart += int64_t(drop);
    }
}

double SoundChain::driftPpm() const
{
    double ratio = 1.0;
    for (const Element& e : m_elements)
        if (e.kind == Kind::Drift)
            ratio *= 1.0 + e.value * 1e-6;
    return (ratio - 1.0) * 1e6;
}

std::optional<std::size_t> SoundChain::firstDrop() const
{
    std::optional<std::size_t> first;
    for (const Element& e : m_elements)
        if (e.kind == Kind::Drop)
            first = std::min(first.value_or(SIZE_MAX), std::size_t(e.value) - 1);
    return first;
}

double SoundChain::gaussian(Element& e)
{
    if (e.hasSpare) {
        e.hasSpare = false;
        return e.spare;
    }
    // Box-Muller on two uniforms in (0, 1].
    const double u1 = double((splitMix64(e.rng) >> 11) + 1) * 0x1.0p-53;
    const double u2 = double(splitMix64(e.rng) >> 11) * 0x1.0p-53;
    const double r = std::sqrt(-2.0 * std::log(u1));
    e.spare = r * std::sin(2.0 * Pi * u2);
    e.hasSpare = true;
    return r * std::cos(2.0 * Pi * u2);
}

void SoundChain::process(std::vector<double>& samples)
{
    for (Element& e : m_elements) {
        switch (e.kind) {
        case Kind::Gain:
            for (double& x : samples)
                x *= e.amount;
            break;
        case Kind::LowPass:
        case Kind::HighPass:
        case Kind::LowPass2:
        case Kind::HighPass2:
            for (double& x : samples) {
                const double y = e.b0 * x + e.z1;
                e.z1 = e.b1 * x - e.a1 * y + e.z2;
                e.z2 = e.b2 * x - e.a2 * y;
                x = y;
            }
            break;
        case Kind::Noise:
            for (double& x : samples)
                x += e.amount * gaussian(e);
            break;
        case Kind::Delay:
            if (!e.line.empty()) {
                for (double& x : samples) {
                    std::swap(x, e.line[e.linePos]);
                    if (++e.linePos == e.line.size())
                        e.linePos = 0;
                }
            }
            break;
        case Kind::Drop: {
            const int every = int(e.value);
            size_t kept = 0;
            for (double x : samples) {
                if (++e.count == every)
                    e.count = 0;
                else
                    samples[kept++] = x;
            }
            samples.resize(kept);
            break;
        }
        case Kind::Clip:
            for (double& x : samples)
                x = std::clamp(x, -e.amount, e.amount);
            break;
        case Kind::Poly:
            e.poly.process(samples);
            break;
        case Kind::Silence:
            std::fill(samples.begin(), samples.end(), 0.0);
            break;
        case Kind::Drift:
            drift(e, samples);
            break;
        }
    }
}

double SoundChain::polyHarmonic(int order, double amplitude, double a2, double a3)
{
    // sin^2 = (1 - cos 2t) / 2, sin^3 = (3 sin t - sin 3t) / 4.
    const double a = amplitude;
    switch (order) {
    case 0:
    case 2:
        return a2 * a * a / 2.0;
    case 1:
        return a + 3.0 * a3 * a * a * a / 4.0;
    case 3:
        return a3 * a * a * a / 4.0;
    default:
        return 0.0;
    }
}

double SoundChain::magnitudeDb(double hz) const
{
    double db = 0.0;
    for (const Element& e : m_elements) {
        switch (e.kind) {
        case Kind::Gain:
            db += e.value;
            break;
        case Kind::LowPass:
        case Kind::HighPass: {
            const double w = warped(hz, e.value);
            const double magnitude = (e.kind == Kind::LowPass ? 1.0 : w) / std::sqrt(1.0 + w * w);
            db += 20.0 * std::log10(magnitude);
            break;
        }
        case Kind::LowPass2:
        case Kind::HighPass2: {
            const double w = warped(hz, e.value);
            const double magnitude = (e.kind == Kind::LowPass2 ? 1.0 : w * w) / std::sqrt(1.0 + w * w * w * w);
            db += 20.0 * std::log10(magnitude);
            break;
        }
        case Kind::Silence:
            return -std::numeric_limits<double>::infinity();
        case Kind::Noise:
        case Kind::Delay:
        case Kind::Drop:
        case Kind::Clip:
        case Kind::Poly:
        case Kind::Drift:
            break;
        }
    }
    return db;
}

} // namespace audimera

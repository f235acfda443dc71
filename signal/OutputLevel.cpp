#include "signal/OutputLevel.h"

#include "common/Log10.h"
#include "common/Rounding.h"

#include <cmath>
#include <cstdlib>

namespace audimera {

namespace OutputLevel {

int volumeLevel(int value)
{
    if (value <= 0)
        return Silence;
    return audimera::nearestInt(audimera::Log10(value / 1000.0) * 20 * 100);
}

int panAttenuation(int value)
{
    const int a = std::abs(value);
    if (a >= PanMax)
        return Silence;
    return audimera::nearestInt(audimera::Log10((1000 - a) / 1000.0) * 20 * 100);
}

int devicePan(int value)
{
    const int a = panAttenuation(value);
    return value < 0 ? a : -a;
}

std::string dBText(int level)
{
    std::string s = std::to_string(std::abs(static_cast<long long>(level)));
    std::string frac = s.size() >= 2 ? s.substr(s.size() - 2) : "0" + s;
    std::string whole = s.size() > 2 ? s.substr(0, s.size() - 2) : "0";
    if (level < 0)
        whole = "-" + whole;
    return whole + "." + frac + " dB";
}

PanLabels panLabels(int value)
{
    PanLabels labels;
    labels.leftMark = value == -PanMax ? Blue : Black;
    labels.centerMark = value == 0 ? Blue : Black;
    labels.rightMark = value == PanMax ? Blue : Black;
    const int a = panAttenuation(value);
    const std::string attenuated = a == Silence ? "Mute" : dBText(a);
    if (value < 0) {
        labels.right = attenuated;
        labels.left = "0.00 dB";
    } else {
        labels.left = attenuated;
        labels.right = "0.00 dB";
    }
    return labels;
}

double gainOf(int level)
{
    if (level <= Silence)
        return 0.0;
    return std::pow(10.0, level / 2000.0);
}

} // namespace OutputLevel

} // namespace audimera

#include "signal/Dropout.h"

#include <cmath>
#include <cstdlib>

namespace audimera {

namespace Dropout {

namespace {

// Whether the FlankFrames samples of channel from frame begin on (clipped to
// the recording) are loud: a flank cut short by an end is not.
bool loud(const float* frames, std::size_t count, std::size_t channels, std::size_t channel, std::size_t begin)
{
    if (begin + FlankFrames > count)
        return false;
    double energy = 0;
    for (std::size_t i = begin; i < begin + FlankFrames; ++i) {
        const double v = frames[i * channels + channel];
        energy += v * v;
    }
    return std::sqrt(energy / double(FlankFrames)) >= FlankRms;
}

// Whether the signal stops dead at the run [start, end) of channel: one of
// the EdgeFrames samples just outside it on either side is at least
// EdgeShare of the RMS of its flank. A signal that falls to 0 on its own
// (a half-wave-rectified sine) comes to it in small steps on both sides.
bool abrupt(const float* frames, std::size_t channels, std::size_t channel, std::size_t start, std::size_t end)
{
    const auto rms = [&](std::size_t begin) {
        double energy = 0;
        for (std::size_t i = begin; i < begin + FlankFrames; ++i)
            energy += double(frames[i * channels + channel]) * frames[i * channels + channel];
        return std::sqrt(energy / double(FlankFrames));
    };
    const auto edge = [&](std::size_t from, double flank) {
        for (std::size_t i = from; i < from + EdgeFrames; ++i)
            if (std::abs(double(frames[i * channels + channel])) >= EdgeShare * flank)
                return true;
        return false;
    };
    return edge(start - EdgeFrames, rms(start - FlankFrames)) || edge(end, rms(end));
}

} // namespace

std::optional<std::size_t> find(const float* frames, std::size_t count, std::size_t channels)
{
    std::optional<std::size_t> first;
    for (std::size_t c = 0; c < channels; ++c) {
        std::size_t i = 0;
        while (i < count) {
            if (frames[i * channels + c] != 0.0f) {
                ++i;
                continue;
            }
            const std::size_t start = i;
            while (i < count && frames[i * channels + c] == 0.0f)
                ++i;
            if (first && start >= *first)
                break;
            if (i - start >= MinRunFrames && start >= FlankFrames && loud(frames, count, channels, c, start - FlankFrames)
                && loud(frames, count, channels, c, i) && abrupt(frames, channels, c, start, i)) {
                first = start;
                break;
            }
        }
    }
    return first;
}

} // namespace Dropout

} // namespace audimera

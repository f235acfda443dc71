// Output level and balance: the attenuations that the level and balance
// bars stand for, in hundredths of a dB (0 full level, -10000 silence), and
// their label texts.
#pragma once

#include <cstdint>
#include <string>

namespace audimera {

namespace OutputLevel {

constexpr int Silence = -10000;
constexpr int VolumeMax = 1000; // HScrollVolume: linear amplitude in thousandths
constexpr int PanMax = 1000;    // HScrollPan: -1000 left .. 1000 right

constexpr uint32_t Black = 0;
constexpr uint32_t Blue = 255u * 65536u; // red + 256 green + 65536 blue

// The level of a volume bar position 0..1000.
int volumeLevel(int value);

// The attenuation of the far channel for a balance bar position -1000..1000.
int panAttenuation(int value);

// The pan value for the device: a negative one attenuates the right channel
// (bar towards the left), a positive one the left.
int devicePan(int value);

// "0.00 dB", "-6.02 dB", "-100.00 dB": always with a point, whatever the
// locale. level is never positive.
std::string dBText(int level);

// The label texts and colours of a balance bar position.
struct PanLabels {
    std::string left;  // LabelVolLeft
    std::string right; // LabelVolRight
    uint32_t leftMark, centerMark, rightMark; // LabelLeft, LabelCenter, LabelRight
};
PanLabels panLabels(int value);

// Linear gain of a level in hundredths of a dB; exactly 0 at Silence or below.
double gainOf(int level);

} // namespace OutputLevel

} // namespace audimera

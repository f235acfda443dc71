// A colour of the plots: a 24-bit value packed as red + 256 * green +
// 65536 * blue. Plain data, no toolkit.
#pragma once

#include <cstdint>

namespace audimera {

using RgbColor = uint32_t;

constexpr RgbColor rgbColor(int red, int green, int blue)
{
    return static_cast<RgbColor>((red & 0xff) | ((green & 0xff) << 8) | ((blue & 0xff) << 16));
}

} // namespace audimera

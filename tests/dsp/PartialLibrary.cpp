// Stand-in library with the right file name but only one of the exports.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t PackVolume(int32_t left, int32_t right)
{
    return left + right;
}

// Packing of a left and a right 16-bit volume into one 32-bit word.
#include "dsp/Audidsp.h"

extern "C" {

int32_t AUDIDSP_CALL PackVolume(int32_t Left, int32_t Right)
{
    const uint32_t word = (static_cast<uint32_t>(Right) & 0xFFFFu) << 16
                        | (static_cast<uint32_t>(Left) & 0xFFFFu);
    return static_cast<int32_t>(word);
}

int32_t AUDIDSP_CALL UnpackLeftVolume(int32_t Packed)
{
    return static_cast<int32_t>(static_cast<uint32_t>(Packed) & 0xFFFFu);
}

int32_t AUDIDSP_CALL UnpackRightVolume(int32_t Packed)
{
    return static_cast<int32_t>(static_cast<uint32_t>(Packed) >> 16);
}

} // extern "C"

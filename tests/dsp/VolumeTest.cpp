#include "tests/dsp/DspTestSupport.h"

#include <cstdint>

namespace audimera {

namespace {

class VolumeTest : public ::testing::Test {
protected:
    FreshDsp dsp;
    AUDIDSP_PFN_PackVolume pack = dsp.get<AUDIDSP_PFN_PackVolume>("PackVolume");
    AUDIDSP_PFN_UnpackLeftVolume left = dsp.get<AUDIDSP_PFN_UnpackLeftVolume>("UnpackLeftVolume");
    AUDIDSP_PFN_UnpackRightVolume right = dsp.get<AUDIDSP_PFN_UnpackRightVolume>("UnpackRightVolume");
};

TEST_F(VolumeTest, PackPlacesLeftLowAndRightHighDroppingHigherBits)
{
    EXPECT_EQ(pack(65535, 0), 65535);
    EXPECT_EQ(static_cast<uint32_t>(pack(0, 65535)), 4294901760u);
    EXPECT_EQ(pack(0, 65535), -65536);
    EXPECT_EQ(pack(65541, 65543), 458757);
    EXPECT_EQ(pack(65541, 65543), pack(5, 7));
    EXPECT_EQ(static_cast<uint32_t>(pack(-1, -1)), 0xFFFFFFFFu);
}

TEST_F(VolumeTest, UnpackHasNoSignExtension)
{
    EXPECT_EQ(right(-65536), 65535);
    EXPECT_EQ(left(-32768), 32768);
    EXPECT_EQ(left(-1), 65535);
    EXPECT_EQ(right(-1), 65535);
    EXPECT_EQ(right(65535), 0);
}

TEST_F(VolumeTest, UnpackInvertsPackOverTheWholeRange)
{
    // Every left value against a spread of right values and vice versa.
    for (int a = 0; a <= 65535; ++a) {
        const int b = (a * 7919 + 13) % 65536;
        const int32_t w = pack(a, b);
        ASSERT_EQ(left(w), a);
        ASSERT_EQ(right(w), b);
        const int32_t v = pack(b, a);
        ASSERT_EQ(left(v), b);
        ASSERT_EQ(right(v), a);
    }
}

} // namespace

} // namespace audimera

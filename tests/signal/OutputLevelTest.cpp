#include "signal/OutputLevel.h"

#include <gtest/gtest.h>

namespace audimera {

using namespace OutputLevel;

TEST(OutputLevelTest, VolumeBarPositions)
{
    EXPECT_EQ(volumeLevel(0), -10000);
    EXPECT_EQ(volumeLevel(500), -602);
    EXPECT_EQ(volumeLevel(1), -6000);
    EXPECT_EQ(volumeLevel(1000), 0);
    EXPECT_EQ(volumeLevel(999), -1);
    EXPECT_EQ(gainOf(-10000), 0.0);
    EXPECT_EQ(gainOf(0), 1.0);
    EXPECT_NEAR(gainOf(-602), 0.5, 1e-3);
}

TEST(OutputLevelTest, DecibelTextAlwaysUsesAPoint)
{
    EXPECT_EQ(dBText(0), "0.00 dB");
    EXPECT_EQ(dBText(-5), "-0.05 dB");
    EXPECT_EQ(dBText(-60), "-0.60 dB");
    EXPECT_EQ(dBText(-602), "-6.02 dB");
    EXPECT_EQ(dBText(-10000), "-100.00 dB");
    EXPECT_EQ(dBText(-6000), "-60.00 dB");
}

TEST(OutputLevelTest, BalanceAttenuatesTheFarSide)
{
    PanLabels l = panLabels(-1000);
    EXPECT_EQ(devicePan(-1000), -10000);
    EXPECT_EQ(l.right, "Mute");
    EXPECT_EQ(l.left, "0.00 dB");
    EXPECT_EQ(l.leftMark, Blue);
    EXPECT_EQ(l.centerMark, Black);
    EXPECT_EQ(l.rightMark, Black);

    l = panLabels(500);
    EXPECT_EQ(devicePan(500), 602);
    EXPECT_EQ(l.left, "-6.02 dB");
    EXPECT_EQ(l.right, "0.00 dB");
    EXPECT_EQ(l.leftMark | l.centerMark | l.rightMark, Black);

    EXPECT_EQ(devicePan(999), 6000);
    EXPECT_EQ(panLabels(999).left, "-60.00 dB");

    l = panLabels(0);
    EXPECT_EQ(devicePan(0), 0);
    EXPECT_EQ(l.left, "0.00 dB");
    EXPECT_EQ(l.right, "0.00 dB");
    EXPECT_EQ(l.centerMark, Blue);

    l = panLabels(1000);
    EXPECT_EQ(devicePan(1000), 10000);
    EXPECT_EQ(l.left, "Mute");
    EXPECT_EQ(l.rightMark, Blue);
    EXPECT_EQ(Blue, 16711680u);
}

} // namespace audimera

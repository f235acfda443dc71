#include "common/Log10.h"
#include "common/Rounding.h"

#include <gtest/gtest.h>

namespace audimera {

using audimera::Log10;
using audimera::nearest;
using audimera::nearestInt;
using audimera::nearestSample;

TEST(RoundingTest, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(nearest(2.5), 2);
    EXPECT_EQ(nearest(3.5), 4);
    EXPECT_EQ(nearest(-2.5), -2);
    EXPECT_EQ(nearest(-3.5), -4);
    EXPECT_EQ(nearest(5002.5), 5002);
    EXPECT_EQ(nearest(19999.5), 20000);
    EXPECT_EQ(nearest(20000.5), 20000);
    EXPECT_EQ(nearest(2.4999999), 2);
    EXPECT_EQ(nearest(2.5000001), 3);
    EXPECT_EQ(nearest(-0.5), 0);
}

TEST(RoundingTest, IntegerConversionsSaturate)
{
    EXPECT_EQ(nearestInt(1e12), INT32_MAX);
    EXPECT_EQ(nearestInt(-1e12), INT32_MIN);
    EXPECT_EQ(nearestInt(176400.0 / 20000), 9);
    EXPECT_EQ(nearestSample(40000), 32767);
    EXPECT_EQ(nearestSample(-40000), -32768);
    EXPECT_EQ(nearestSample(-16380.5), -16380);
}

TEST(RoundingTest, Log10IsDefinedEverywhere)
{
    EXPECT_EQ(Log10(0), -1000);
    EXPECT_EQ(Log10(-5), -1000);
    EXPECT_EQ(Log10(1000), 2.9999999999999947);
    EXPECT_EQ(Log10(10), 0.9999999999999982);
    EXPECT_NEAR(Log10(2), 0.30102999566398, 1e-13);
}

} // namespace audimera

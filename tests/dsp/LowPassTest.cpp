#include "tests/dsp/DspTestSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace audimera {

namespace {

class LowPassTest : public ::testing::Test {
protected:
    FreshDsp dsp;
    AUDIDSP_PFN_LowPass44 lp44 = dsp.get<AUDIDSP_PFN_LowPass44>("LowPass44");
    AUDIDSP_PFN_LowPass48 lp48 = dsp.get<AUDIDSP_PFN_LowPass48>("LowPass48");
};

TEST_F(LowPassTest, FreshLibraryStartsFromZeroState)
{
    EXPECT_NEAR(lp44(1000, 0, 0), 1.423, 1e-12);
    EXPECT_NEAR(lp44(1000, 0, 0), 4.2650156, 1e-9);
}

TEST_F(LowPassTest, ResetSettlesAtInit)
{
    EXPECT_EQ(lp44(12345, 500, 1), 500.0);
    EXPECT_NEAR(lp44(500, 0, 0), 500.0115, 1e-9);
    EXPECT_EQ(lp48(-7, -250, 1), -250.0);
    // Settled at the DC output for that input: the filter stays put.
    const double settled = 1.00538 * 1000.0;
    lp48(0, 1000.0 * 2 * 0.001307 / (1 - 0.9974), 1);
    EXPECT_NEAR(lp48(1000, 0, 0), settled, 1e-2);
}

TEST_F(LowPassTest, ResetValuesOtherThanOneFilter)
{
    EXPECT_NEAR(lp44(1000, 777, 2), 1.423, 1e-12);
    EXPECT_NEAR(lp44(1000, 777, -1), 4.2650156, 1e-9);
}

TEST_F(LowPassTest, ConstantInputApproachesDcGain)
{
    double y44 = 0, y48 = 0;
    for (int i = 0; i < 20000; ++i) {
        y44 = lp44(1000, 0, 0);
        y48 = lp48(1000, 0, 0);
    }
    EXPECT_NEAR(y44 / 1000, 2 * 0.001423 / (1 - 0.9972), 1e-9);
    EXPECT_NEAR(y44 / 1000, 1.01643, 1e-5);
    EXPECT_NEAR(y48 / 1000, 1.00538, 1e-5);
}

TEST_F(LowPassTest, FiltersHaveSeparateStates)
{
    lp44(1000, 0, 0);
    lp48(-30000, 0, 0);
    lp48(123, 9999, 1);
    EXPECT_NEAR(lp44(1000, 0, 0), 4.2650156, 1e-9);
    // And the other way round, on a reset filter.
    lp48(0, 0, 1);
    EXPECT_NEAR(lp48(1000, 0, 0), 1.307, 1e-12);
    lp44(5000, 0, 0);
    EXPECT_NEAR(lp48(1000, 0, 0), 1.307 + 1.307 + 0.9974 * 1.307, 1e-9);
}

TEST_F(LowPassTest, CornerNearTwentyHertz)
{
    // Steady-state gain of a 19.7 Hz sine relative to DC is close to -3 dB.
    const double fs = 44100, f = 19.7;
    lp44(0, 0, 1);
    double peak = 0;
    for (int i = 0; i < 44100 * 3; ++i) {
        const double y = lp44(std::sin(2 * std::numbers::pi * f * i / fs), 0, 0);
        if (i > 44100 * 2)
            peak = std::max(peak, std::abs(y));
    }
    EXPECT_NEAR(20 * std::log10(peak / 1.01643), -3.01, 0.1);
}

} // namespace

} // namespace audimera

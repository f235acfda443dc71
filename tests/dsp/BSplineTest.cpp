#include "tests/support/BSplineReference.h"
#include "tests/dsp/DspTestSupport.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <vector>

namespace audimera {

namespace {

class BSplineTest : public ::testing::Test {
protected:
    FreshDsp dsp;
    AUDIDSP_PFN_GetBSpline spline = dsp.get<AUDIDSP_PFN_GetBSpline>("GetBSpline");

    struct Curve {
        std::vector<double> x, y;
        int count;
    };

    Curve run(const std::vector<double>& x, const std::vector<double>& y, int res, int order)
    {
        Curve c{std::vector<double>(res, -99), std::vector<double>(res, -99), -1};
        spline(res, x.data(), y.data(), static_cast<int32_t>(x.size()), c.x.data(), c.y.data(),
               &c.count, order);
        return c;
    }
};

const std::vector<double> zigX{0, 1, 2, 3};
const std::vector<double> zigY{0, 1, 0, 1};

TEST_F(BSplineTest, OrderTwoIsTheControlPolygonResampled)
{
    const Curve c = run(zigX, zigY, 7, 2);
    ASSERT_EQ(c.count, 7);
    const double ex[] = {0, 0.5, 1, 1.5, 2, 2.5, 3};
    const double ey[] = {0, 0.5, 1, 0.5, 0, 0.5, 1};
    for (int i = 0; i < 7; ++i) {
        EXPECT_NEAR(c.x[i], ex[i], 1e-15) << i;
        EXPECT_NEAR(c.y[i], ey[i], 1e-15) << i;
    }
}

TEST_F(BSplineTest, OrderThreeSmoothsTheInnerPoints)
{
    const Curve c = run(zigX, zigY, 3, 3);
    ASSERT_EQ(c.count, 3);
    EXPECT_DOUBLE_EQ(c.x[0], 0);
    EXPECT_DOUBLE_EQ(c.y[0], 0);
    EXPECT_DOUBLE_EQ(c.x[1], 1.5);
    EXPECT_DOUBLE_EQ(c.y[1], 0.5);
    EXPECT_DOUBLE_EQ(c.x[2], 3);
    EXPECT_DOUBLE_EQ(c.y[2], 1);
}

TEST_F(BSplineTest, OrderIsClampedToOneThroughTen)
{
    const std::vector<double> x{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const std::vector<double> y{3, -1, 4, 1, -5, 9, 2, -6, 5, 3, -5, 8};
    for (int low : {0, -1, INT32_MIN}) {
        const Curve a = run(x, y, 40, low), b = run(x, y, 40, 1);
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.y, b.y);
    }
    for (int high : {11, 25, INT32_MAX}) {
        const Curve a = run(x, y, 40, high), b = run(x, y, 40, 10);
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.y, b.y);
    }
}

TEST_F(BSplineTest, OrderOneTakesThePointOfTheKnotInterval)
{
    const std::vector<double> x{10, 20, 30};
    const std::vector<double> y{1, 2, 3};
    // Knots 0 1 2 3, step 3/5: v = 0, 0.6, 1.2, 1.8, 2.4, then the copied end.
    const Curve c = run(x, y, 6, 1);
    const double ey[] = {1, 1, 2, 2, 3, 3};
    for (int i = 0; i < 6; ++i)
        EXPECT_DOUBLE_EQ(c.y[i], ey[i]) << i;
}

TEST_F(BSplineTest, SingleOutputIsTheLastControlPoint)
{
    const Curve c = run(zigX, zigY, 1, 4);
    ASSERT_EQ(c.count, 1);
    EXPECT_EQ(c.x[0], 3);
    EXPECT_EQ(c.y[0], 1);
}

TEST_F(BSplineTest, EndsMatchControlPointsAndInputsAreOnlyRead)
{
    std::vector<double> x, y;
    for (int i = 0; i < 50; ++i) {
        x.push_back(i * i);
        y.push_back(std::sin(i));
    }
    const auto x0 = x, y0 = y;
    for (int t = 1; t <= 10; ++t) {
        const Curve c = run(x, y, 343, t);
        EXPECT_DOUBLE_EQ(c.x.front(), x.front()) << t;
        EXPECT_DOUBLE_EQ(c.y.front(), y.front()) << t;
        EXPECT_EQ(c.x.back(), x.back()) << t;
        EXPECT_EQ(c.y.back(), y.back()) << t;
    }
    EXPECT_EQ(x, x0);
    EXPECT_EQ(y, y0);
}

TEST_F(BSplineTest, MatchesPlainSummationOnRandomInputs)
{
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> value(-1e4, 1e4);
    std::uniform_int_distribution<int> size(1, 70);
    std::uniform_int_distribution<int> resolution(1, 600);
    int cases = 0;
    for (int round = 0; round < 60; ++round) {
        const int nIn = round < 10 ? round + 1 : size(rng);
        std::vector<double> x(nIn), y(nIn);
        double scale = 0;
        for (int k = 0; k < nIn; ++k) {
            x[k] = value(rng);
            y[k] = value(rng);
            scale = std::max({scale, std::abs(x[k]), std::abs(y[k])});
        }
        for (int t = 1; t <= 10; ++t) {
            for (int res : {1, 2, 3, 7 * nIn - 7 > 0 ? 7 * nIn - 7 : 1, resolution(rng)}) {
                std::vector<double> rx(res), ry(res);
                reference::getBSpline(res, x.data(), y.data(), nIn, rx.data(), ry.data(), t);
                const Curve c = run(x, y, res, t);
                ASSERT_EQ(c.count, res);
                for (int i = 0; i < res; ++i) {
                    ASSERT_NEAR(c.x[i], rx[i], 1e-12 * scale)
                        << "nIn " << nIn << " order " << t << " res " << res << " i " << i;
                    ASSERT_NEAR(c.y[i], ry[i], 1e-12 * scale)
                        << "nIn " << nIn << " order " << t << " res " << res << " i " << i;
                }
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 60 * 10 * 5);
}

TEST_F(BSplineTest, MatchesPlainSummationOnAResponseSizedCurve)
{
    // A measured-curve shape of 300 points at the plot's 7n - 7 resolution.
    const int nIn = 300, res = 7 * nIn - 7;
    std::vector<double> x(nIn), y(nIn);
    for (int k = 0; k < nIn; ++k) {
        x[k] = 130 + k * 1.0;
        y[k] = 100 * std::sin(k / 9.0) + (k % 7) * 13;
    }
    for (int t = 2; t <= 6; ++t) {
        std::vector<double> rx(res), ry(res);
        reference::getBSpline(res, x.data(), y.data(), nIn, rx.data(), ry.data(), t);
        const Curve c = run(x, y, res, t);
        for (int i = 0; i < res; ++i) {
            ASSERT_NEAR(c.x[i], rx[i], 1e-12 * 430) << t << " " << i;
            ASSERT_NEAR(c.y[i], ry[i], 1e-12 * 430) << t << " " << i;
        }
    }
}

TEST_F(BSplineTest, NoPointsAskedForOrGivenTouchesNothing)
{
    // The output arrays sit between guard values; a routine that writes
    // point res - 1 or reads control point nIn - 1 regardless lands on them
    // (or, under the sanitizers, before its own working copy).
    struct Case {
        int32_t res, nIn;
    };
    const Case cases[] = {{0, 4}, {-1, 4}, {4, 0}, {4, -1}, {0, 0}, {INT32_MIN, 4}};
    constexpr int Guard = 8, Room = 4;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "res " << c.res << " nIn " << c.nIn);
        std::vector<double> xBuf(Room + 2 * Guard, 7.5), yBuf(Room + 2 * Guard, 8.5);
        int32_t count = -1;
        spline(c.res, zigX.data(), zigY.data(), c.nIn, xBuf.data() + Guard, yBuf.data() + Guard,
               &count, 3);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(xBuf, std::vector<double>(Room + 2 * Guard, 7.5));
        EXPECT_EQ(yBuf, std::vector<double>(Room + 2 * Guard, 8.5));
    }
}

TEST_F(BSplineTest, UnobtainableWorkingMemoryLeavesOutputsAndReportsZero)
{
    // Sixteen bytes a control point for INT32_MAX points is more than this
    // machine hands out in one piece. The routine must give up before it
    // reads the (tiny) inputs or writes the outputs.
    if (std::ifstream("/proc/sys/vm/overcommit_memory").get() == '1')
        GTEST_SKIP() << "the kernel grants any allocation here";
    double xOut[4] = {7, 7, 7, 7}, yOut[4] = {8, 8, 8, 8};
    int32_t count = -1;
    spline(4, zigX.data(), zigY.data(), INT32_MAX, xOut, yOut, &count, 3);
    EXPECT_EQ(count, 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(xOut[i], 7);
        EXPECT_EQ(yOut[i], 8);
    }
}

} // namespace

} // namespace audimera

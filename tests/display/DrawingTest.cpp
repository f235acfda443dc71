// Log10, the drawing surface's pixel mapping and DrawLabel's stroke font,
// checked on the pixels they produce.
#include "display/models/Drawing.h"
#include "display/models/DrawingSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <utility>

namespace audimera {

namespace {

constexpr RgbColor Black = rgbColor(0, 0, 0);
constexpr RgbColor White = rgbColor(255, 255, 255);
constexpr RgbColor Red = rgbColor(255, 0, 0);

// A pixel surface on which one user unit is one pixel and, with size 1,
// one font unit is one pixel too.
DrawingSurface pixelSurface(int w = 200, int h = 100)
{
    DrawingSurface s(1.0);
    s.setBackColor(White);
    s.setSize(w, h);
    s.setScaleWidth(static_cast<float>(w));
    s.setScaleHeight(static_cast<float>(h));
    s.clear();
    return s;
}

std::set<int> inkColumns(const DrawingSurface& s, RgbColor ink = Black)
{
    std::set<int> cols;
    for (int y = 0; y < s.pixelHeight(); ++y)
        for (int x = 0; x < s.pixelWidth(); ++x)
            if (s.pixelColor(x, y) == ink)
                cols.insert(x);
    return cols;
}

std::set<std::pair<int, int>> inkPixels(const DrawingSurface& s, RgbColor ink = Black)
{
    std::set<std::pair<int, int>> pixels;
    for (int y = 0; y < s.pixelHeight(); ++y)
        for (int x = 0; x < s.pixelWidth(); ++x)
            if (s.pixelColor(x, y) == ink)
                pixels.insert({x, y});
    return pixels;
}

bool verticalInk(const DrawingSurface& s, int x, int y1, int y2)
{
    for (int y = y1; y <= y2; ++y)
        if (s.pixelColor(x, y) != Black)
            return false;
    return true;
}

bool horizontalInk(const DrawingSurface& s, int x1, int x2, int y)
{
    for (int x = x1; x <= x2; ++x)
        if (s.pixelColor(x, y) != Black)
            return false;
    return true;
}

TEST(Log10Test, PowersOfTenFallJustShortAndNonPositiveGivesMinus1000)
{
    // The divisor is a little above ln 10, so powers of ten fall just short.
    EXPECT_EQ(Log10(10), 0.9999999999999982);
    EXPECT_EQ(Log10(1000), 2.9999999999999947);
    EXPECT_EQ(Log10(1), 0.0);
    EXPECT_EQ(Log10(0), -1000.0);
    EXPECT_EQ(Log10(-0.0), -1000.0);
    EXPECT_EQ(Log10(-5), -1000.0);
    EXPECT_EQ(Log10(-std::numeric_limits<double>::infinity()), -1000.0);
    EXPECT_NEAR(Log10(std::numeric_limits<double>::denorm_min()), -323.3, 0.1);
}

TEST(DrawingSurfaceTest, OuterSizeInContainerUnitsGivesPixelSize)
{
    DrawingSurface twips(15.0);
    twips.setSize(11880, 3165);
    EXPECT_EQ(twips.pixelWidth(), 792);
    EXPECT_EQ(twips.pixelHeight(), 211);
    EXPECT_EQ(twips.Width(), 11880);
    EXPECT_EQ(twips.Height(), 3165);

    twips.setScaleWidth(346.8f);
    twips.setScaleHeight(4800);
    twips.setSize(1500, 1500); // a resize keeps the user extents
    EXPECT_EQ(twips.pixelWidth(), 100);
    EXPECT_FLOAT_EQ(twips.ScaleWidth(), 346.8f);
    EXPECT_FLOAT_EQ(twips.ScaleHeight(), 4800);
}

TEST(DrawingSurfaceTest, PointsAndLinesLandOnTheirPixels)
{
    EXPECT_EQ(rgbColor(255, 0, 0), 255u);
    EXPECT_EQ(rgbColor(0, 0, 255), 16711680u);
    DrawingSurface s = pixelSurface(20, 10);
    s.setPoint(3.9f, 2.1f, Red);
    EXPECT_EQ(s.image().pixel(3, 2), qRgb(255, 0, 0));
    EXPECT_EQ(inkPixels(s, Red).size(), 1u);
    EXPECT_FLOAT_EQ(s.currentX(), 3.9f);
    EXPECT_FLOAT_EQ(s.currentY(), 2.1f);

    // Both end points drawn, the pen at the end.
    s.line(2, 5, 6, 5, Black);
    EXPECT_TRUE(horizontalInk(s, 2, 6, 5));
    EXPECT_NE(s.pixelColor(1, 5), Black);
    EXPECT_NE(s.pixelColor(7, 5), Black);
    s.lineTo(6, 8, Black);
    EXPECT_TRUE(verticalInk(s, 6, 5, 8));
    EXPECT_FLOAT_EQ(s.currentY(), 8);

    s.clear();
    EXPECT_TRUE(inkPixels(s, Black).empty());
    EXPECT_TRUE(inkPixels(s, Red).empty());
    EXPECT_EQ(s.currentX(), 0);
    EXPECT_EQ(s.currentY(), 0);
}

TEST(DrawingSurfaceTest, FarAndInvalidCoordinatesAreClippedSafely)
{
    DrawingSurface s = pixelSurface(50, 50);
    // A stored frequency of 0 lands about a hundred thousand units away.
    s.line(-100000, 25, 49, 25, Black);
    EXPECT_TRUE(horizontalInk(s, 0, 49, 25));
    s.line(-1e6f, -1e6f, 1e6f, 1e6f, Red); // the diagonal
    EXPECT_EQ(s.pixelColor(10, 10), Red);
    EXPECT_EQ(s.pixelColor(49, 49), Red);
    s.line(-1e30f, 3e29f, 1e30f, -2e30f, Red); // absurd: no crash, no hang
    s.line(std::nanf(""), 3, 10, 3, Red);
    s.line(5, 3, 10, std::numeric_limits<float>::infinity(), Red);
    EXPECT_NE(s.pixelColor(7, 3), Red);
    s.setPoint(-1, 60, Red);
    s.line(60, 60, 80, 90, Red);

    DrawingSurface empty(15.0); // no size yet: drawing is a no-op
    empty.line(0, 0, 10, 10, Red);
    empty.clear();
    EXPECT_TRUE(empty.image().isNull());
}

TEST(DrawingSurfaceTest, ImageCopiesKeepTheirPixels)
{
    DrawingSurface s = pixelSurface(10, 10);
    s.setPoint(1, 1, Red);
    const QImage before = s.image();
    const qint64 key = before.cacheKey();
    s.line(0, 5, 9, 5, Black);
    EXPECT_EQ(before.pixel(3, 5), qRgb(255, 255, 255));
    EXPECT_EQ(s.pixelColor(3, 5), Black);
    EXPECT_NE(s.image().cacheKey(), key); // painters see a changed image

    const QImage drawn = s.image();
    s.clear(); // detaches from the copy; drawing after it must not reach the copy
    s.setPoint(7, 7, Red);
    EXPECT_EQ(drawn.pixel(7, 7), qRgb(255, 255, 255));
    EXPECT_EQ(drawn.pixel(3, 5), qRgb(0, 0, 0));
    EXPECT_EQ(s.pixelColor(7, 7), Red);
    EXPECT_EQ(s.pixelColor(3, 5), White);

    DrawingSurface copy = s; // surfaces copy like values, even mid-drawing
    s.clear();
    s.setPoint(3, 3, Black);
    EXPECT_EQ(copy.pixelColor(3, 3), White);
    EXPECT_EQ(copy.pixelColor(7, 7), Red);
    copy.setPoint(2, 2, Black);
    EXPECT_EQ(s.pixelColor(2, 2), White);
}

TEST(DrawingSurfaceTest, HighDensityKeepsLinesOneDevicePixelAndLabelsPhysical)
{
    DrawingSurface s(15.0);
    s.setBackColor(White);
    s.setDevicePixelRatio(2.0);
    s.setSize(100 * 15, 40 * 15);
    EXPECT_EQ(s.pixelWidth(), 200);
    EXPECT_EQ(s.logicalPixelWidth(), 100);
    EXPECT_EQ(s.image().devicePixelRatio(), 2.0);
    s.setScaleWidth(100);
    s.setScaleHeight(40);
    s.clear();

    s.line(0, 10, 100, 10, Red);
    EXPECT_EQ(s.pixelColor(50, 20), Red);
    EXPECT_NE(s.pixelColor(50, 19), Red);
    EXPECT_NE(s.pixelColor(50, 21), Red);

    // "1" at size 15: rows 1..8 of the cell, one 96-dpi pixel each, so two
    // device pixels each here (rows 21..28 of the user scale).
    DrawLabel(s, "1", 50, 20, 15, Black);
    int top = -1, bottom = -1;
    const int col = *inkColumns(s).begin();
    for (int y = 0; y < s.pixelHeight(); ++y) {
        if (s.pixelColor(col, y) == Black) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    }
    EXPECT_EQ(top, 42);
    EXPECT_EQ(bottom, 56);
    EXPECT_EQ(inkColumns(s).size(), 1u); // still a one-device-pixel stroke
}

TEST(DrawLabelTest, TenStartsItsFirstCellAtColumn93)
{
    DrawingSurface s = pixelSurface();
    DrawLabel(s, "10", 100, 10, 1, Black);
    // "1": both right-hand strokes at column 98 (93 + 5); "0" columns 101..105.
    EXPECT_EQ(inkColumns(s), (std::set<int>{98, 101, 102, 103, 104, 105}));
    EXPECT_TRUE(verticalInk(s, 98, 11, 14));
    EXPECT_TRUE(verticalInk(s, 98, 15, 18));
    EXPECT_NE(s.pixelColor(98, 10), Black); // strokes 2 and 3 start at row 1
    EXPECT_TRUE(horizontalInk(s, 102, 105, 10)); // top of the 0
    EXPECT_TRUE(horizontalInk(s, 102, 105, 18)); // bottom
    EXPECT_TRUE(verticalInk(s, 101, 11, 14));
    EXPECT_TRUE(verticalInk(s, 101, 15, 18));
    EXPECT_NE(s.pixelColor(101, 10), Black); // corners stay open
    EXPECT_NE(s.pixelColor(103, 14), Black); // no middle bar
}

TEST(DrawLabelTest, OneKEndsWithTheBarAndArmsOfK)
{
    DrawingSurface s = pixelSurface();
    DrawLabel(s, "1k", 100, 10, 1, Black);
    EXPECT_TRUE(verticalInk(s, 98, 11, 18));
    EXPECT_TRUE(verticalInk(s, 101, 10, 19)); // left bar, rows 0..9
    EXPECT_EQ(s.pixelColor(102, 15), Black);  // arms meet at (2, 5)
    EXPECT_EQ(s.pixelColor(106, 13), Black);  // upper arm ends at (6, 3)
    EXPECT_EQ(s.pixelColor(106, 19), Black);  // lower arm ends at (6, 9)
    EXPECT_EQ(s.pixelColor(104, 14), Black);
    EXPECT_EQ(s.pixelColor(104, 17), Black);
    EXPECT_EQ(*inkColumns(s).rbegin(), 106);
}

TEST(DrawLabelTest, DotTakesNoCellButCountsForCentring)
{
    DrawingSurface s = pixelSurface();
    // Three cells centred on 100.5 start at 90; the 0 fills cell 90, the dot
    // falls at column 0 of cell 97 where the 5 is then drawn.
    DrawLabel(s, "0.5", 100.5f, 10, 1, Black);
    EXPECT_TRUE(verticalInk(s, 91, 11, 14)); // 0's left side
    EXPECT_TRUE(verticalInk(s, 95, 11, 18)); // and right side
    EXPECT_EQ(s.pixelColor(97, 18), Black); // the dot at row 8
    EXPECT_NE(s.pixelColor(97, 17), Black);
    EXPECT_TRUE(horizontalInk(s, 99, 102, 10)); // the 5: top
    EXPECT_TRUE(verticalInk(s, 98, 11, 14));    // upper left
    EXPECT_TRUE(verticalInk(s, 102, 15, 18));   // lower right
    EXPECT_EQ(*inkColumns(s).rbegin(), 102);    // nothing in a third cell
}

TEST(DrawLabelTest, SignsAndLetters)
{
    {
        DrawingSurface s = pixelSurface();
        DrawLabel(s, "-3", 100, 10, 1, Black); // cells at 93 and 100
        EXPECT_TRUE(horizontalInk(s, 95, 98, 14));
        EXPECT_EQ(inkColumns(s).count(94), 0u);
        EXPECT_TRUE(horizontalInk(s, 102, 105, 10));
        EXPECT_TRUE(horizontalInk(s, 102, 105, 14));
        EXPECT_TRUE(verticalInk(s, 105, 15, 18));
        EXPECT_EQ(inkColumns(s).count(101), 0u); // 3 has no left side
    }
    {
        DrawingSurface s = pixelSurface();
        DrawLabel(s, "+6", 100, 10, 1, Black);
        EXPECT_TRUE(verticalInk(s, 96, 12, 17)); // plus bar rows 2..7
        EXPECT_NE(s.pixelColor(96, 11), Black);
        EXPECT_NE(s.pixelColor(96, 18), Black);
        EXPECT_TRUE(horizontalInk(s, 95, 98, 14));
        EXPECT_TRUE(verticalInk(s, 101, 11, 18) || verticalInk(s, 101, 15, 18));
        EXPECT_NE(s.pixelColor(105, 12), Black); // 6 has no upper right
    }
    {
        DrawingSurface s = pixelSurface();
        DrawLabel(s, "dBHz", 100, 10, 1, Black); // cells 86, 93, 100, 107
        EXPECT_TRUE(verticalInk(s, 91, 10, 19)); // d's right bar
        EXPECT_TRUE(verticalInk(s, 94, 10, 19)); // B's left bar
        EXPECT_TRUE(verticalInk(s, 101, 10, 19) && verticalInk(s, 105, 10, 19)); // H
        EXPECT_EQ(s.pixelColor(108, 18), Black); // z diagonal from (1, 8)
        EXPECT_EQ(s.pixelColor(113, 13), Black); // to (6, 3)
    }
}

TEST(DrawLabelTest, UnknownCharactersTakeACellAndDrawNothing)
{
    for (const std::string text : {"b1", "D1", " 1", "K1", "Z1", "h1"}) {
        DrawingSurface s = pixelSurface();
        DrawLabel(s, text, 100, 10, 1, Black); // the 1 in the second cell, 100..106
        EXPECT_EQ(inkColumns(s), (std::set<int>{105})) << text;
    }
    DrawingSurface s = pixelSurface();
    DrawLabel(s, "", 100, 10, 1, Black);
    DrawLabel(s, "?", 100, 10, 1, Black);
    EXPECT_TRUE(inkColumns(s).empty());
}

TEST(DrawLabelTest, SizeIsInContainerUnitsWhateverTheUserScale)
{
    // Scale equal to the outer size: size 15 makes cells 105 units wide and
    // digits 120 units tall, i.e. 7 and 8 pixels at 15 twips a pixel.
    DrawingSurface s(15.0);
    s.setBackColor(White);
    s.setSize(200 * 15, 40 * 15);
    s.setScaleWidth(200 * 15);
    s.setScaleHeight(40 * 15);
    s.clear();
    DrawLabel(s, "88", 1500, 150, 15, Black);
    EXPECT_EQ(inkColumns(s), (std::set<int>{94, 95, 96, 97, 98, 101, 102, 103, 104, 105}));

    // A different user scale gives the same pixels.
    DrawingSurface t(15.0);
    t.setBackColor(White);
    t.setSize(200 * 15, 40 * 15);
    t.setScaleWidth(400);
    t.setScaleHeight(80);
    t.clear();
    DrawLabel(t, "88", 200, 20, 15, Black);
    EXPECT_EQ(inkPixels(t), inkPixels(s));
}

} // namespace

} // namespace audimera

// The trace store's rules and the response plot, checked on the pixels of
// a 792 x 211 plot (the window's first size) and on the store's contents.
#include "display/models/Drawing.h"
#include "display/models/DrawingSurface.h"
#include "dsp/DspLibrary.h"
#include "display/models/ResponseImage.h"
#include "display/models/ResponsePlot.h"
#include "tests/support/TestFolder.h"
#include "engine/TraceStore.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace audimera {

namespace {

constexpr RgbColor Back = rgbColor(240, 240, 240);
constexpr RgbColor Black = rgbColor(0, 0, 0);
constexpr RgbColor Red = rgbColor(255, 0, 0);
constexpr RgbColor Yellow = rgbColor(255, 255, 0);
constexpr RgbColor DarkGreen = rgbColor(0, 128, 0);
constexpr RgbColor Green = rgbColor(0, 255, 0);
constexpr RgbColor Blue = rgbColor(0, 0, 255);
constexpr RgbColor Purple = rgbColor(200, 0, 200);

struct Pixel {
    int x, y;
    bool operator<(const Pixel& o) const { return std::pair(x, y) < std::pair(o.x, o.y); }
    bool operator==(const Pixel&) const = default;
};

// A response plot on a twip surface, as the window draws it.
class PlotTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(DspLibrary::instance().require({"GetBSpline"}).message(), "");
    }

    void draw(int dbSpan, int smooth = 1, int w = 792, int h = 211)
    {
        picture = DrawingSurface(ResponsePlot::TwipsPerPixel);
        picture.setBackColor(Back);
        picture.setSize(w * 15.0, h * 15.0);
        plot->TraceResponse(picture, store, {dbSpan, smooth});
        S = dbSpan;
    }

    // Device pixel of a stored x / of a level in dB, by the plot's mapping.
    int column(double storedX) const
    {
        return static_cast<int>(
            std::floor(picture.toPixelX(static_cast<float>(storedX - ResponsePlot::leftX()))));
    }
    int columnOfHz(double f) const { return column(100 * Log10(f)); }
    int rowOfUser(double y) const
    {
        return static_cast<int>(std::floor(picture.toPixelY(static_cast<float>(y))));
    }
    int rowOfDb(double dB) const { return rowOfUser(S / 2.0 * 100 - dB * 100); }
    Pixel at(double f, double dB) const { return {columnOfHz(f), rowOfDb(dB)}; }
    RgbColor colorAt(Pixel p) const { return picture.pixelColor(p.x, p.y); }

    std::set<Pixel> pixelsOf(RgbColor c) const
    {
        std::set<Pixel> out;
        for (int y = 0; y < picture.pixelHeight(); ++y)
            for (int x = 0; x < picture.pixelWidth(); ++x)
                if (picture.pixelColor(x, y) == c)
                    out.insert({x, y});
        return out;
    }

    void addTrace(const std::vector<std::pair<double, double>>& points)
    {
        ASSERT_TRUE(store.AddTrace());
        for (const auto& [f, dB] : points)
            store.AddPoint(f, dB);
    }

    // One font unit (15 twips) in user units across.
    float fontUnitX() const
    {
        return static_cast<float>(15.0 * picture.ScaleWidth() / picture.Width());
    }

    TraceStore store;
    std::unique_ptr<ResponsePlot> plot = std::make_unique<ResponsePlot>();
    DrawingSurface picture;
    int S = 0;
};

TEST_F(PlotTest, FrequencyGridLinesInTheirColumns)
{
    draw(48);
    EXPECT_NEAR(picture.ScaleWidth(), 346.833, 0.001);
    EXPECT_NEAR(100 * Log10(10) - ResponsePlot::leftX(), 12.494, 0.001);
    EXPECT_NEAR(100 * Log10(20000) - ResponsePlot::leftX(), 342.597, 0.001);
    const int labelRow = rowOfUser(std::nearbyint(4800 - 150.0 * 4800 / picture.Height()));
    const int k1 = columnOfHz(1000);
    EXPECT_EQ(k1, static_cast<int>(std::floor(212.494 * 792 / 346.833)));
    // Decade lines are dark green; one pixel wide.
    EXPECT_EQ(picture.pixelColor(k1, 50), DarkGreen);
    EXPECT_EQ(picture.pixelColor(k1 - 1, 50), Back);
    EXPECT_EQ(picture.pixelColor(k1 + 1, 50), Back);
    // Labelled lines stop at the label row; the others run the full height.
    EXPECT_EQ(picture.pixelColor(k1, labelRow - 1), DarkGreen);
    EXPECT_EQ(picture.pixelColor(k1, labelRow + 4), Back);
    EXPECT_EQ(picture.pixelColor(columnOfHz(3000), labelRow + 4), Green);
    EXPECT_EQ(picture.pixelColor(columnOfHz(3000), 50), Green);
    EXPECT_EQ(picture.pixelColor(columnOfHz(2000), 50), Green);
    EXPECT_EQ(picture.pixelColor(columnOfHz(2000), labelRow + 4), Back);
    for (int f : {10, 100, 10000})
        EXPECT_EQ(picture.pixelColor(columnOfHz(f), 50), DarkGreen) << f;
    for (int f : {20, 90, 300, 700, 9000, 20000})
        EXPECT_EQ(picture.pixelColor(columnOfHz(f), 50), Green) << f;
    // Nothing left of 10 Hz, not even the level grid.
    for (int y = 0; y < picture.pixelHeight(); ++y) {
        const RgbColor c = picture.pixelColor(columnOfHz(8), y);
        EXPECT_TRUE(c == Back || c == Black) << y; // black: level labels
    }
}

TEST_F(PlotTest, ZeroLineAndLevelGridForEveryRange)
{
    for (int index = 0; index < 4; ++index) {
        draw(ResponsePlot::dbSpanForIndex(index));
        SCOPED_TRACE(S);
        const int col = columnOfHz(15); // between grid lines, right of the labels
        const int zero = rowOfUser(100 * S / 2.0);
        EXPECT_EQ(picture.pixelColor(col, zero), Red);
        EXPECT_NE(picture.pixelColor(col, zero - 1), Red);
        EXPECT_NE(picture.pixelColor(col, zero + 1), Red);
        EXPECT_EQ(picture.pixelColor(columnOfHz(10) + 1, zero), Red);
        EXPECT_EQ(picture.pixelColor(picture.pixelWidth() - 1, zero), Red);
        int yellowRows = 0;
        for (int i = 0; i <= S; i += 3) {
            const int row = rowOfUser(100 * i);
            if (row >= picture.pixelHeight())
                continue; // the bottom edge lies on the first row below the image
            if (i * 2 != S) {
                EXPECT_EQ(picture.pixelColor(col, row), Yellow) << i;
            }
            ++yellowRows;
        }
        int counted = 0;
        for (int y = 0; y < picture.pixelHeight(); ++y)
            counted += picture.pixelColor(col, y) == Yellow;
        EXPECT_EQ(counted, yellowRows - 1); // all but the zero line's
    }
}

TEST_F(PlotTest, FrequencyLabelsTenAndOneKAtTheirColumns)
{
    draw(48);
    const double ly = std::nearbyint(4800 - 150.0 * 4800 / picture.Height());
    const float sx = fontUnitX();
    ASSERT_NEAR(picture.toPixelX(sx), 1.0, 1e-4); // 15 twips: one pixel
    auto col = [&](double f, int cell, int unit) {
        const auto x = static_cast<float>(100 * Log10(f) - ResponsePlot::leftX());
        const float cx0 = x - (2 * sx / 2) * 7; // two cells centred on x
        return static_cast<int>(std::floor(picture.toPixelX(cx0 + cell * 7 * sx + unit * sx)));
    };
    auto rowOfFontRow = [&](int r) {
        return rowOfUser(static_cast<float>(ly)
                         + r * static_cast<float>(15.0 * picture.ScaleHeight() / picture.Height()));
    };
    // "10": the 1's strokes at column 5 of cell 0; the 0's sides at 1 and 5 of cell 1.
    for (int r = 1; r <= 8; ++r) {
        EXPECT_EQ(picture.pixelColor(col(10, 0, 5), rowOfFontRow(r)), Black) << r;
        EXPECT_EQ(picture.pixelColor(col(10, 1, 1), rowOfFontRow(r)), Black) << r;
        EXPECT_EQ(picture.pixelColor(col(10, 1, 5), rowOfFontRow(r)), Black) << r;
        EXPECT_EQ(picture.pixelColor(col(10, 0, 4), rowOfFontRow(r)), Back) << r;
    }
    EXPECT_EQ(picture.pixelColor(col(10, 1, 3), rowOfFontRow(0)), Black);
    // "1k": the k's left bar runs rows 0 to 9, the arms end at column 6.
    for (int r = 0; r <= 9; ++r)
        EXPECT_EQ(picture.pixelColor(col(1000, 1, 1), rowOfFontRow(r)), Black) << r;
    EXPECT_EQ(picture.pixelColor(col(1000, 0, 5), rowOfFontRow(6)), Black);
    EXPECT_EQ(picture.pixelColor(col(1000, 1, 6), rowOfFontRow(3)), Black);
    EXPECT_EQ(picture.pixelColor(col(1000, 1, 6), rowOfFontRow(9)), Black);
    EXPECT_EQ(rowOfFontRow(9), picture.pixelHeight() - 1); // the last row
}

TEST_F(PlotTest, LevelLabelsOnlyInsideTheRange)
{
    for (int span : {12, 96}) {
        draw(span);
        SCOPED_TRACE(span);
        const int right = 25; // labels centred 10 pixels from the left, at most 3 cells
        auto inkInBand = [&](int top, int rows) {
            for (int y = std::max(top, 0); y < std::min(top + rows, picture.pixelHeight()); ++y)
                for (int x = 0; x <= right; ++x)
                    if (picture.pixelColor(x, y) == Black)
                        return true;
            return false;
        };
        // At 792 x 211 the 96 dB span has room for a label every 6 dB only.
        const int every = span == 96 ? 6 : 3;
        for (int i = 3; i <= span - 3; i += 3) {
            if ((i - span / 2) % every != 0)
                continue;
            const double top = std::nearbyint(100.0 * (span - i) - 50.0 * span * 100 / picture.Height());
            EXPECT_TRUE(inkInBand(rowOfUser(top), 3)) << i - span / 2;
        }
        if (span == 12) {
            // Nothing above the label of level 3 (none at +6, the top edge).
            const int top3 = rowOfUser(std::nearbyint(300 - 50.0 * 1200 / picture.Height()));
            EXPECT_FALSE(inkInBand(0, top3));
        }
    }
}

TEST_F(PlotTest, TracesInTheirColoursLaterOverEarlier)
{
    addTrace({{100, 0}, {500, 5}, {1000, 0}, {10000, 0}});
    addTrace({{200, 10}, {500, 5}, {2000, -10}, {8000, 5}});
    draw(48, 1);
    EXPECT_EQ(colorAt(at(1000, 0)), Black); // over the red line and the grid
    EXPECT_EQ(colorAt(at(2000, -10)), Blue);
    EXPECT_EQ(colorAt(at(200, 10)), Blue);
    EXPECT_EQ(colorAt(at(500, 5)), Blue); // both pass here; the later wins
    EXPECT_EQ(colorAt(at(3000, 0)), Black);

    // The level labels are drawn over the traces: the sides of the "0"
    // label cut a trace running along 0 dB.
    store.ClearAllTraces();
    ASSERT_TRUE(store.AddTrace());
    addTrace({{8, 0}, {12, 0}});
    draw(48, 1);
    const float sx = fontUnitX();
    const auto labelX = static_cast<float>(150.0 * picture.ScaleWidth() / picture.Width());
    const float cx0 = labelX - (1 * sx / 2) * 7;
    const int leftSide = static_cast<int>(std::floor(picture.toPixelX(cx0 + sx)));
    const int zeroRow = rowOfDb(0);
    EXPECT_EQ(picture.pixelColor(leftSide, zeroRow), Black);
    EXPECT_EQ(picture.pixelColor(leftSide + 2, zeroRow), Blue);
}

TEST_F(PlotTest, SinglePointTraceIsOneDot)
{
    for (int t = 0; t < 4; ++t)
        ASSERT_TRUE(store.AddTrace()); // empty traces draw nothing
    addTrace({{1500, 10}});
    for (int smooth = 1; smooth <= 4; ++smooth) {
        draw(48, smooth);
        const std::set<Pixel> dots = pixelsOf(Purple);
        ASSERT_EQ(dots.size(), 1u) << smooth;
        EXPECT_EQ(dots.begin()->x, at(1500, 10).x);
        EXPECT_EQ(dots.begin()->y, at(1500, 10).y);
    }
}

TEST_F(PlotTest, SmoothingAppliesFromFourPoints)
{
    addTrace({{100, 0}, {1000, 10}, {10000, 0}});
    draw(48, 4);
    EXPECT_EQ(plot->splineCount(), 0); // three points: a polyline
    EXPECT_EQ(colorAt(at(1000, 10)), Black);

    store.ClearAllTraces();
    addTrace({{100, 0}, {300, 10}, {1000, -10}, {10000, 0}});
    draw(48, 3);
    EXPECT_EQ(plot->splineCount(), 21);
    draw(48, 1);
    EXPECT_EQ(plot->splineCount(), 0);
}

TEST_F(PlotTest, SharpSmoothingKeepsTheShapeHigherOrdersFlattenPeaks)
{
    std::vector<std::pair<double, double>> gentle;
    for (int k = 0; k < 9; ++k)
        gentle.push_back({50 * std::pow(2.0, k), k % 2 ? -2.0 : 2.0});
    addTrace(gentle);
    draw(48, 1);
    const std::set<Pixel> straight = pixelsOf(Black);
    draw(48, 2);
    EXPECT_EQ(plot->splineCount(), 56);
    const std::set<Pixel> sharp = pixelsOf(Black);
    // The same polyline from more points. The samples miss the vertices by
    // a fraction of a segment, so corners are cut by about a pixel here.
    auto near = [](const std::set<Pixel>& a, const std::set<Pixel>& b) {
        for (const Pixel& p : a) {
            bool found = false;
            for (int dx = -2; dx <= 2 && !found; ++dx)
                for (int dy = -2; dy <= 2 && !found; ++dy)
                    found = b.count({p.x + dx, p.y + dy}) > 0;
            if (!found)
                return false;
        }
        return true;
    };
    EXPECT_NE(sharp, straight);
    EXPECT_TRUE(near(sharp, straight));
    EXPECT_TRUE(near(straight, sharp));

    // A 20 dB peak: the higher the order, the lower the curve's top.
    store.ClearAllTraces();
    std::vector<std::pair<double, double>> spike;
    for (int k = 0; k < 9; ++k)
        spike.push_back({50 * std::pow(2.0, k), k == 4 ? 20.0 : 0.0});
    addTrace(spike);
    auto topOfTrace = [&] {
        int top = picture.pixelHeight();
        for (const Pixel& p : pixelsOf(Black))
            if (p.x > columnOfHz(150) && p.x < columnOfHz(6000)) // away from labels
                top = std::min(top, p.y);
        return top;
    };
    draw(48, 1);
    const int top1 = topOfTrace();
    EXPECT_EQ(top1, at(800, 20).y);
    draw(48, 2);
    const int top2 = topOfTrace();
    draw(48, 3);
    const int top3 = topOfTrace();
    draw(48, 4);
    const int top4 = topOfTrace();
    EXPECT_LE(top1, top2);
    EXPECT_LT(top2, top3);
    EXPECT_LT(top3, top4);
}

// B-spline stand-ins that yield no curve: working memory refused, library
// gone. Both count their calls.
int g_failedSplineCalls = 0;
void splineWithoutMemory(int32_t, const double*, const double*, int32_t, double*, double*,
                         int32_t* outCount, int32_t)
{
    ++g_failedSplineCalls;
    *outCount = 0;
}
void splineWithoutLibrary(int32_t, const double*, const double*, int32_t, double*, double*,
                          int32_t*, int32_t)
{
    ++g_failedSplineCalls;
    throw DspError("no library");
}

TEST_F(PlotTest, TraceWithoutACurveIsDrawnStraight)
{
    // A blue trace whose peak at 300 Hz any smoothing would cut.
    ASSERT_TRUE(store.AddTrace());
    addTrace({{100, 0}, {300, 10}, {1000, -10}, {10000, 0}});
    draw(48, 1);
    const std::set<Pixel> straight = pixelsOf(Blue);
    ASSERT_EQ(colorAt(at(300, 10)), Blue);
    draw(48, 3);
    ASSERT_NE(colorAt(at(300, 10)), Blue);

    for (ResponsePlot::SplineFunction standIn : {&splineWithoutMemory, &splineWithoutLibrary}) {
        plot = std::make_unique<ResponsePlot>(standIn);
        g_failedSplineCalls = 0;
        draw(48, 3);
        EXPECT_EQ(g_failedSplineCalls, 1);
        EXPECT_EQ(plot->splineCount(), 0);
        EXPECT_EQ(colorAt(at(300, 10)), Blue);
        EXPECT_EQ(pixelsOf(Blue), straight);
    }
}

TEST_F(PlotTest, PointsOutsideTheRangeStillJoinThePolyline)
{
    addTrace({{100, 7}, {1000, -3}}); // +7 dB is above a +/- 6 dB plot
    draw(12, 1);
    EXPECT_EQ(colorAt(at(1000, -3)), Black);
    int inkOnTopRow = 0;
    for (int x = columnOfHz(100); x < columnOfHz(1000); ++x)
        inkOnTopRow += picture.pixelColor(x, 0) == Black;
    EXPECT_GT(inkOnTopRow, 0);

    store.ClearAllTraces();
    addTrace({{0, 0}, {1000, 0}}); // a stored x of -100000
    draw(48, 4);
    EXPECT_EQ(picture.pixelColor(columnOfHz(500), rowOfDb(0)), Black);
}

TEST_F(PlotTest, EightFullTracesAtEverySmoothingLevel)
{
    for (int t = 0; t < TraceStore::MaxTraces; ++t) {
        ASSERT_TRUE(store.AddTrace());
        for (int i = 0; i < TraceStore::MaxPoints; ++i)
            store.AddPoint(10 + i, 3 * std::sin(i / 500.0 + t) + t - 4);
    }
    for (int index = 0; index < 4; ++index) {
        draw(48, ResponsePlot::smoothForIndex(index));
        EXPECT_EQ(plot->splineCount(), index == 0 ? 0 : 7 * TraceStore::MaxPoints - 7);
        EXPECT_GT(pixelsOf(rgbColor(128, 255, 0)).size(), 500u) << index; // the last trace
        EXPECT_GT(pixelsOf(rgbColor(0, 128, 128)).size(), 100u) << index;
    }
}

TEST(TraceStoreTest, EightTracesAtMostAndColoursRestartAfterClear)
{
    TraceStore store;
    EXPECT_EQ(store.GetTraceCount(), 0);
    for (int t = 0; t < 8; ++t)
        EXPECT_TRUE(store.AddTrace());
    store.AddPoint(1000, 1);
    EXPECT_FALSE(store.AddTrace());
    EXPECT_EQ(store.GetTraceCount(), 8);
    EXPECT_EQ(store.pointCount(7), 1); // the refused trace changed nothing

    store.ClearAllTraces();
    EXPECT_EQ(store.GetTraceCount(), 0);
    EXPECT_TRUE(store.AddTrace());
    EXPECT_EQ(store.pointCount(0), 0); // old points are not read back
    EXPECT_EQ(TraceStore::traceColor(0), rgbColor(0, 0, 0));
    const RgbColor expected[8] = {rgbColor(0, 0, 0),       rgbColor(0, 0, 255),
                                  rgbColor(255, 0, 0),     rgbColor(128, 128, 128),
                                  rgbColor(200, 0, 200),   rgbColor(0, 128, 128),
                                  rgbColor(0, 128, 0),     rgbColor(128, 255, 0)};
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(TraceStore::traceColor(t), expected[t]) << t;
    EXPECT_EQ(std::string(TraceStore::TooManyTracesMessage),
              "You can't trace more than 8 curves, click on 'Clear' to erase current curves.");
}

TEST(TraceStoreTest, PointsAreStoredInHundredths)
{
    TraceStore store;
    store.AddPoint(1000, 1); // no trace open: ignored
    EXPECT_EQ(store.GetTraceCount(), 0);
    ASSERT_TRUE(store.AddTrace());
    store.AddPoint(1000, -3.5);
    store.AddPoint(0, 2);
    store.AddPoint(10, 0.25);
    ASSERT_EQ(store.pointCount(0), 3);
    EXPECT_EQ(store.traceX(0)[0], 100 * Log10(1000));
    EXPECT_EQ(store.traceY(0)[0], -350);
    EXPECT_EQ(store.traceX(0)[1], -100000);
    EXPECT_EQ(store.traceY(0)[2], 25);
}

TEST(TraceStoreTest, TraceHoldsAtMost22051Points)
{
    TraceStore store;
    ASSERT_TRUE(store.AddTrace());
    for (int i = 0; i < TraceStore::MaxPoints; ++i)
        store.AddPoint(10 + i, i * 0.001);
    store.AddPoint(99999, 99); // the 22052nd: ignored
    EXPECT_EQ(store.pointCount(0), 22051);
    std::vector<double> tx, ty;
    ASSERT_EQ(store.GetLastTraceData(tx, ty), 22051);
    EXPECT_EQ(tx.back(), 10 + 22050);
    EXPECT_NEAR(ty.back(), 2205.0, 1e-9);
}

TEST(TraceStoreTest, LastTraceDataIsTheNewestTraceWithExactFrequencies)
{
    TraceStore store;
    std::vector<double> tx{1, 2}, ty{3};
    EXPECT_EQ(store.GetLastTraceData(tx, ty), 0); // empty store: arrays untouched
    EXPECT_EQ(tx, (std::vector<double>{1, 2}));
    EXPECT_EQ(ty, (std::vector<double>{3}));
    ASSERT_TRUE(store.AddTrace());
    store.AddPoint(20, 1);
    ASSERT_TRUE(store.AddTrace());
    EXPECT_EQ(store.GetLastTraceData(tx, ty), 0); // newest trace empty
    EXPECT_EQ(tx.size(), 2u);

    for (int i = 0; i < 100; ++i)
        store.AddPoint(10.1 * (i + 1), i / 8.0);
    ASSERT_EQ(store.GetLastTraceData(tx, ty), 100);
    ASSERT_EQ(tx.size(), 100u);
    ASSERT_EQ(ty.size(), 100u);
    EXPECT_EQ(tx[36], 10.1 * 37); // unconverted, not rebuilt from a logarithm
    EXPECT_EQ(ty[36], 36 / 8.0 * 100);
}

TEST(ResponseSettingsTest, ListIndicesMapToSpanAndOrder)
{
    // The headless command's --db-range 48 and --smooth 3.
    const ResponseSettings s =
        ResponsePlot::settingsForIndices(ResponsePlot::dbRangeIndexForPlusMinus(48), 3);
    EXPECT_EQ(s.dbSpan, 96);
    EXPECT_EQ(s.smooth, 4);
    EXPECT_EQ(ResponsePlot::settingsForIndices(0, 0).dbSpan, 12);
    EXPECT_EQ(ResponsePlot::settingsForIndices(0, 0).smooth, 1);
    EXPECT_EQ(ResponsePlot::dbRangeIndexForPlusMinus(96), -1);
    EXPECT_EQ(ResponsePlot::smoothForIndex(7), 1);
}

TEST(ResponseImageTest, WritesThePlotAsPng)
{
    TraceStore store;
    ASSERT_TRUE(store.AddTrace());
    ASSERT_TRUE(store.AddTrace());
    store.AddPoint(100, 3);
    store.AddPoint(1000, -3);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("plot.png").toStdString();
    const Status written = ResponseImage::writePng(path, store, ResponsePlot::settingsForIndices(0, 1), 400, 150);
    EXPECT_TRUE(written) << written.message();
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(400, 150));
    // Same drawing as on a surface of the same size.
    const QImage direct =
        ResponseImage::render(store, ResponsePlot::settingsForIndices(0, 1), 400, 150);
    EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), direct);
    EXPECT_EQ(image.pixel(0, 0), qRgb(240, 240, 240));
}

TEST(ResponseImageTest, ReportsFailures)
{
    TraceStore store;
    const std::string missing = "/nonexistent-dir/plot.png";
    const Status unwritable = ResponseImage::writePng(missing, store, {}, 100, 50);
    const Status badSize = ResponseImage::writePng(testFile("x.png"), store, {}, 0, 50);
    for (const Status& failed : {unwritable, badSize})
        EXPECT_EQ(failed.kind(), Failure::File) << failed.message();
    const std::string error = unwritable.message();
    EXPECT_EQ(error.rfind("Error saving file '" + missing + "' : ", 0), 0u) << error;
    EXPECT_GT(error.size(), ("Error saving file '" + missing + "' : ").size());
    EXPECT_FALSE(badSize);
    EXPECT_TRUE(ResponseImage::render(store, {}, -1, 5).isNull());
}

TEST(ResponseImageTest, ParsesSizes)
{
    int w = 0, h = 0;
    EXPECT_TRUE(ResponseImage::parseSize("792x211", &w, &h));
    EXPECT_EQ(w, 792);
    EXPECT_EQ(h, 211);
    EXPECT_TRUE(ResponseImage::parseSize("10X20", &w, &h));
    EXPECT_EQ(h, 20);
    for (const char* bad : {"", "x", "12", "0x5", "5x", "x5", "5x5x5", "-1x3", " 5x5", "5x5 ",
                            "99999x10", "5.5x3"})
        EXPECT_FALSE(ResponseImage::parseSize(bad, &w, &h)) << bad;
    EXPECT_EQ(w, 10); // untouched by failures
}

} // namespace

} // namespace audimera

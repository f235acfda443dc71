// The time-frequency views drawn from hand-made results: slices hidden by
// the ones in front, the colour scale's ends, masked points and wraps left
// undrawn, read-outs that agree with the pixels drawn, the SVG picture's
// strokes and the views at twice the pixel density.
#include "display/models/LogSweepPlots.h"
#include "display/models/ResponsePlot.h"
#include "display/models/TimeFrequencyPlots.h"

#include <gtest/gtest.h>

#include <QXmlStreamReader>

#include <cmath>
#include <functional>
#include <set>

namespace audimera {

namespace {

namespace T = TimeFrequencyPlots;
constexpr int WidthPx = 792;
constexpr int HeightPx = 422;

DrawingSurface surface(double ratio = 1)
{
    DrawingSurface s(LogSweepPlots::UnitsPerPixel);
    s.setDevicePixelRatio(ratio);
    s.setSize(WidthPx * LogSweepPlots::UnitsPerPixel, HeightPx * LogSweepPlots::UnitsPerPixel);
    return s;
}

std::vector<double> logFrequencies(double low, double high, int perOctave)
{
    std::vector<double> f;
    for (int i = 0; low * std::pow(2.0, i / double(perOctave)) <= high * 1.0001; ++i)
        f.push_back(low * std::pow(2.0, i / double(perOctave)));
    return f;
}

// Slices k = 0..levels.size()-1 every 50 ms, flat at levels[k] dB with a
// ripple of rippleDb.
WaterfallResult waterfall(const std::vector<double>& levels, double rippleDb = 0)
{
    WaterfallResult r{logFrequencies(20, 20000, 12), {}, {}, 50};
    for (std::size_t k = 0; k < levels.size(); ++k) {
        r.timesMs.push_back(50.0 * k);
        r.levelsDb.emplace_back();
        for (const double f : r.frequencies)
            r.levelsDb.back().push_back(levels[k] + rippleDb * std::sin(std::log(f) * 3 + k));
    }
    return r;
}

PhaseResult phases(double maskLow, double maskHigh)
{
    PhaseResult r;
    r.delayMs = 2;
    for (const double f : logFrequencies(20, 20000, 24)) {
        PhasePoint p{f, 0, {}, {}, {}, {}, {}};
        if (f < maskLow || f > maskHigh) {
            const double deg = std::remainder(-360.0 * f / 3000, 360.0); // wraps every 3 kHz
            p.measuredDeg = p.minimumDeg = p.excessDeg = deg;
            p.groupDelayMs = 2 + 1 / (1 + f / 100);
            p.excessGroupDelayMs = 2.5 + 0.5 / (1 + f / 100);
        }
        r.points.push_back(p);
    }
    return r;
}

// Device pixels of a colour in the columns [c0, c1), rows [r0, r1).
int count(const DrawingSurface& s, RgbColor color, int c0, int c1, int r0 = 0, int r1 = 1 << 30)
{
    int n = 0;
    for (int x = std::max(c0, 0); x < std::min(c1, s.pixelWidth()); ++x)
        for (int y = std::max(r0, 0); y < std::min(r1, s.pixelHeight()); ++y)
            n += s.pixelColor(x, y) == color;
    return n;
}

double userX(const DrawingSurface& s, int px)
{
    return (px + 0.5) * s.ScaleWidth() / s.pixelWidth();
}
double userY(const DrawingSurface& s, double py)
{
    return py * s.ScaleHeight() / s.pixelHeight();
}

} // namespace

TEST(TimeFrequencyPlotsTest, EachSliceHidesTheSlicesBehindIt)
{
    // The back slice, set up and right by the whole depth, lies just below
    // the front one (-25 dB) or above it (-10 dB) where both are drawn; right
    // of the front slice it is always seen.
    struct Case {
        double backDb;
        bool seenBehind;
    };
    for (const Case& c : {Case{-25, false}, Case{-10, true}, Case{-49, false}}) {
        DrawingSurface s = surface();
        const WaterfallResult r = waterfall({0, c.backDb});
        T::drawWaterfall(s, &r);
        const RgbColor back = T::sliceColor(1, 2);
        const auto column = [&](double x) { return static_cast<int>(s.toPixelX(static_cast<float>(x))); };
        EXPECT_EQ(count(s, back, column(3500), column(7200)) > 0, c.seenBehind) << c.backDb;
        EXPECT_GT(count(s, back, column(7500), column(9600)), 0) << c.backDb;
        EXPECT_GT(count(s, T::FrontSliceColor, column(1000), column(7200)), 0) << c.backDb;
    }
}

TEST(TimeFrequencyPlotsTest, ColourScaleEndsAndCellsReadBackTheirLevels)
{
    // Each level drawn over the whole image, where its colour is clamped to
    // the scale's ends; the scale's top and bottom pixels are its ends.
    struct Case {
        float db;
        double expectDb;
    };
    for (const Case& c : {Case{0, 0}, Case{-60, -60}, Case{-200, -60}, Case{-30, -30}}) {
        DrawingSurface s = surface();
        SpectrogramResult r;
        r.frequencies = {100, 1000, 10000};
        r.timesMs = {0, 10};
        r.levelsDb.assign(6, c.db);
        T::drawSpectrogram(s, &r);
        const uint32_t middle = s.pixelColor(static_cast<int>(s.toPixelX(4000)), static_cast<int>(s.toPixelY(4000)));
        EXPECT_EQ(middle, T::spectrogramColor(c.expectDb, 60)) << c.db;
        EXPECT_NE(T::spectrogramColor(0, 60), T::spectrogramColor(-60, 60));
        const int scaleColumn = static_cast<int>(s.toPixelX(8750));
        const auto near = [](uint32_t a, uint32_t b) {
            for (int shift : {0, 8, 16})
                if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > 12)
                    return false;
            return true;
        };
        EXPECT_TRUE(near(s.pixelColor(scaleColumn, static_cast<int>(s.toPixelY(400)) + 2), T::spectrogramColor(0, 60)));
        EXPECT_TRUE(near(s.pixelColor(scaleColumn, static_cast<int>(s.toPixelY(8700)) - 2), T::spectrogramColor(-60, 60)));
    }
}

TEST(TimeFrequencyPlotsTest, MaskedPointsAndWrapsAreNotDrawn)
{
    // Nothing of the curve between 300 Hz and 2 kHz (masked); no column
    // holds a line from top to bottom, which a joined wrap would draw.
    struct Case {
        std::function<void(DrawingSurface&, const PhaseResult&)> draw;
        RgbColor color;
    };
    const Case cases[] = {
        {[](DrawingSurface& s, const PhaseResult& r) { T::drawPhase(s, &r, T::PhaseCurve::Measured); },
         T::PhaseColors[0]},
        {[](DrawingSurface& s, const PhaseResult& r) { T::drawPhase(s, &r, T::PhaseCurve::Excess); },
         T::PhaseColors[2]},
        {[](DrawingSurface& s, const PhaseResult& r) {
             T::drawGroupDelay(s, &r, T::DelayCurve::ExcessGroupDelay, true);
         },
         T::DelayColors[1]},
    };
    const PhaseResult r = phases(300, 2000);
    for (const Case& c : cases) {
        DrawingSurface s = surface();
        c.draw(s, r);
        const auto column = [&](double hz) {
            return static_cast<int>(s.toPixelX(static_cast<float>(100 * std::log10(hz) - ResponsePlot::leftX())));
        };
        EXPECT_EQ(count(s, c.color, column(320), column(1900)), 0);
        EXPECT_GT(count(s, c.color, column(2100), column(19000)), 0);
        for (int x = column(25); x < column(19000); ++x)
            EXPECT_LT(count(s, c.color, x, x + 1), s.pixelHeight() / 6) << x;
    }
}

TEST(TimeFrequencyPlotsTest, ReadOutsAgreeWithThePixelsDrawn)
{
    // Every pixel of a slice reads that slice; every pixel of the image
    // reads a level of its colour; a curve's pixels read a value drawn
    // within two pixels of them.
    const WaterfallResult w = waterfall({0, -6, -12, -18}, 1);
    SpectrogramResult g;
    g.frequencies = logFrequencies(20, 20000, 3);
    for (int c = 0; c < 40; ++c)
        g.timesMs.push_back(-10 + 5 * c);
    for (std::size_t i = 0; i < g.frequencies.size() * g.timesMs.size(); ++i)
        g.levelsDb.push_back(static_cast<float>(-60.0 * ((i * 7919) % 61) / 60));
    const PhaseResult p = phases(300, 2000);
    struct Case {
        std::function<void(DrawingSurface&)> draw;
        // The colour a reading at (x, y) says the pixel has, or for a curve
        // the user y of its value; nullopt for a pixel it does not judge.
        std::function<std::optional<double>(uint32_t pixel, double x, double y)> expect;
        bool curve;
        double wrongShare; // the waterfall's pixels where a curve passes behind another
        double below;      // pixels below a pixel's centre read: a slice's area lies under its line
    };
    const auto sliceOf = [&](double ms) { return static_cast<std::size_t>(std::lround(ms / 50)); };
    const Case cases[] = {
        {[&](DrawingSurface& s) { T::drawWaterfall(s, &w); },
         [&](uint32_t pixel, double x, double y) -> std::optional<double> {
             for (std::size_t k = 1; k < 4; ++k) // the first slice is black as the labels
                 if (pixel == T::sliceColor(k, 4)) {
                     const auto reading = T::waterfallAt(w, x, y);
                     return reading ? double(T::sliceColor(sliceOf(reading->ms), 4)) : -1.0;
                 }
             return std::nullopt;
         },
         false, 0.03, 1},
        {[&](DrawingSurface& s) { T::drawSpectrogram(s, &g); },
         [&](uint32_t, double x, double y) -> std::optional<double> {
             if (x < 1100 || x > 8100 || y < 500 || y > 8600)
                 return std::nullopt;
             const auto reading = T::spectrogramAt(g, x, y);
             return reading ? double(T::spectrogramColor(reading->db, 60)) : -1.0;
         },
         false, 0, 0},
        {[&](DrawingSurface& s) { T::drawPhase(s, &p, T::PhaseCurve::Minimum); },
         [&](uint32_t pixel, double x, double) -> std::optional<double> {
             const auto reading = T::phaseAt(p, T::PhaseCurve::Minimum, x, 100);
             if (pixel != T::PhaseColors[1] || !reading)
                 return std::nullopt;
             return (180 - reading->degrees) * 100;
         },
         true, 0, 0},
        {[&](DrawingSurface& s) { T::drawGroupDelay(s, &p, T::DelayCurve::GroupDelay, false); },
         [&](uint32_t pixel, double x, double) -> std::optional<double> {
             const auto reading = T::groupDelayAt(p, T::DelayCurve::GroupDelay, false, x, 100);
             if (pixel != T::DelayColors[0] || !reading)
                 return std::nullopt;
             const T::DelayAxis a = T::delayAxis(&p, T::DelayCurve::GroupDelay, false);
             return (a.topMs - reading->ms) / (a.topMs - a.bottomMs) * 10000;
         },
         true, 0, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        DrawingSurface s = surface();
        cases[i].draw(s);
        int judged = 0, wrong = 0;
        for (int px = 0; px < s.pixelWidth(); px += 3) {
            int top = s.pixelHeight(), bottom = -1;
            double curveY = 0;
            for (int py = 0; py < s.pixelHeight(); ++py) {
                const std::optional<double> e =
                    cases[i].expect(s.pixelColor(px, py), userX(s, px), userY(s, py + 0.5 + cases[i].below));
                if (!e)
                    continue;
                ++judged;
                top = std::min(top, py);
                bottom = std::max(bottom, py);
                curveY = s.toPixelY(static_cast<float>(*e));
                wrong += !cases[i].curve && *e != double(s.pixelColor(px, py));
            }
            // A curve's value lies on its run of pixels in the column.
            wrong += cases[i].curve && bottom >= 0 && !(curveY >= top - 2 && curveY <= bottom + 3);
        }
        EXPECT_GT(judged, 100) << i;
        EXPECT_LE(wrong, judged * cases[i].wrongShare) << i;
    }
}

TEST(TimeFrequencyPlotsTest, SvgHoldsTheStrokesFillsAndImage)
{
    struct Case {
        std::function<void(DrawingSurface&)> draw;
        const char* mustHold; // an element the picture holds
    };
    const WaterfallResult w = waterfall({0, -20}, 3);
    SpectrogramResult g{{100, 1000}, {0, 10}, {0, -10, -20, -30}, 60, 10, 1};
    const Case cases[] = {
        {[&](DrawingSurface& s) { T::drawWaterfall(s, &w); }, "polyline"},
        {[&](DrawingSurface& s) { T::drawSpectrogram(s, &g); }, "image"},
    };
    for (const Case& c : cases) {
        const Result<std::string> svg = T::pictureBytes(c.draw, 600, 300, T::PictureFormat::Svg);
        ASSERT_TRUE(svg) << svg.message();
        QXmlStreamReader xml(QByteArray::fromStdString(*svg));
        std::set<std::string> names;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement)
                names.insert(xml.name().toString().toStdString());
        EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
        EXPECT_TRUE(names.count(c.mustHold)) << c.mustHold;
        const Result<std::string> png = T::pictureBytes(c.draw, 600, 300, T::PictureFormat::Png);
        ASSERT_TRUE(png);
        EXPECT_EQ(png->substr(1, 3), "PNG");
    }
    EXPECT_FALSE(T::pictureBytes([](DrawingSurface&) {}, 0, 300, T::PictureFormat::Png));
}

TEST(TimeFrequencyPlotsTest, TwiceThePixelDensityKeepsLinesOneDevicePixelAndLabelsTheirSize)
{
    const WaterfallResult w = waterfall({0, -20});
    for (const double ratio : {1.0, 2.0}) {
        DrawingSurface s = surface(ratio);
        std::vector<DrawingSurface::Label> labels;
        s.setLabelLog(&labels);
        T::drawWaterfall(s, &w);
        // The flat front slice: one device pixel high in every column.
        const int x = static_cast<int>(s.toPixelX(2000));
        const int y = static_cast<int>(s.toPixelY(3200));
        EXPECT_EQ(count(s, T::FrontSliceColor, x, x + 1, y - 20, y + 20), 1) << ratio;
        ASSERT_FALSE(labels.empty());
        for (const DrawingSurface::Label& l : labels)
            EXPECT_NEAR(l.box.height(), 9 * ratio, ratio) << l.text << " at " << ratio;
    }
}

} // namespace audimera

// Saved pictures: without a legend exactly the plot the window shows; with
// one, the names in their colours and the axis titles; SVG coordinates keep
// their fractions.
#include "display/models/ResponseImage.h"
#include "dsp/DspLibrary.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

namespace audimera {

namespace {

TEST(PictureCaptionsTest, LegendOptionalAndSvgKeepsFractions)
{
    ASSERT_EQ(DspLibrary::instance().require({"GetBSpline"}).message(), "");
    TraceStore store;
    for (int t = 0; t < 2; ++t) {
        ASSERT_TRUE(store.AddTrace());
        for (double f = 20; f < 20000; f *= 1.1)
            store.AddPoint(f, 5 * std::sin(f / 300.0) - 8 * t);
    }
    const PlotSettings settings{48, 3};
    const int w = 792, h = 211;
    const PictureCaptions captions = PictureCaptions::forResponse(store, {"left.frd"});
    struct Row {
        bool svg, legend;
    };
    for (const Row row : {Row{false, false}, Row{false, true}, Row{true, false}, Row{true, true}}) {
        SCOPED_TRACE(std::string(row.svg ? "svg" : "png") + (row.legend ? " legend" : ""));
        const PictureCaptions used = row.legend ? captions : PictureCaptions{};
        if (row.svg) {
            const QString svg = QString::fromUtf8(ResponseImage::svg(store, settings, w, h, ResponseImage::DefaultBackground, used));
            for (const char* text : {"left.frd", "Trace 2", "Frequency (Hz)", "Level (dB)"})
                EXPECT_EQ(svg.contains(QString::fromLatin1(text)), row.legend) << text;
            // Curve points off the half-pixel grid the raster would give.
            int fractional = 0;
            QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("(\\d+\\.\\d+),(\\d+\\.\\d+)")).globalMatch(svg);
            while (it.hasNext()) {
                const double y = it.next().captured(2).toDouble();
                fractional += std::abs(y - std::floor(y) - 0.5) > 0.01;
            }
            EXPECT_GT(fractional, 100);
            continue;
        }
        const QImage image = ResponseImage::render(store, settings, w, h, ResponseImage::DefaultBackground, 1, used);
        ASSERT_EQ(image.size(), QSize(w, h));
        if (!row.legend) {
            // The window's own drawing, pixel for pixel.
            DrawingSurface window(ResponsePlot::TwipsPerPixel);
            window.setBackColor(ResponseImage::DefaultBackground);
            window.setSize(w * 15.0, h * 15.0);
            ResponsePlot().TraceResponse(window, store, settings);
            EXPECT_EQ(image, window.image());
            continue;
        }
        // Each trace's swatch: a run of its colour in the legend's corner.
        for (int t = 0; t < 2; ++t) {
            const RgbColor c = TraceStore::traceColor(t);
            const QRgb want = qRgb(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff);
            int longest = 0;
            for (int y = 0; y < 60; ++y)
                for (int x = w - 200, run = 0; x < w; ++x) {
                    run = image.pixel(x, y) == want ? run + 1 : 0;
                    longest = std::max(longest, run);
                }
            EXPECT_GE(longest, 18) << t;
        }
    }
}

} // namespace

} // namespace audimera

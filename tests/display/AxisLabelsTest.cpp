// Axis labels thinned to what fits: on every plot kind, range and size no
// two labels' ink overlaps and every label lies wholly inside the picture
// (the widest, "-4.5" or "-45", keeps its minus sign), while enough remain
// to read the axes.
#include "display/models/LogSweepPlots.h"
#include "display/models/ResponsePlot.h"
#include "dsp/DspLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace audimera {

namespace {

struct Case {
    const char* plot; // "response" (span: S) or "logsweep" (span: the levels' range) or "distortion"
    int span;
    int width, height;
    int scale;
    size_t minLabels;
    const char* mustShow; // a label that must be drawn ("" none)
};

TEST(AxisLabelsTest, NoOverlapAndInsideWhateverTheRangeAndSize)
{
    ASSERT_EQ(DspLibrary::instance().require({"GetBSpline"}).message(), "");
    const Case cases[] = {
        {"response", 96, 792, 211, 1, 20, "-42"}, {"response", 96, 400, 120, 1, 6, "0"},
        {"response", 48, 792, 211, 1, 20, "-21"}, {"response", 24, 250, 90, 1, 4, "0"},
        {"response", 12, 1600, 900, 2, 14, "-3"}, {"response", 96, 120, 60, 1, 1, "0"},
        {"logsweep", 12, 792, 422, 1, 15, "-4.5"}, {"logsweep", 12, 300, 100, 1, 4, ""},
        {"logsweep", 96, 792, 150, 1, 10, ""},     {"distortion", 0, 792, 120, 1, 10, "-40"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.plot) + " " + std::to_string(c.span) + " " + std::to_string(c.width) + "x"
                     + std::to_string(c.height));
        DrawingSurface s(15);
        s.setDevicePixelRatio(c.scale);
        s.setSize(c.width * 15.0, c.height * 15.0);
        std::vector<DrawingSurface::Label> labels;
        s.setLabelLog(&labels);
        TraceStore store;
        ResponsePlot plot;
        if (std::string(c.plot) == "response") {
            plot.TraceResponse(s, store, {c.span, 1});
        } else if (std::string(c.plot) == "logsweep") {
            // Levels spanning just under the range: the axis takes that span.
            std::vector<ResponsePoint> response;
            for (double f = 20; f < 20000; f *= 1.5)
                response.push_back({f, (f < 1000 ? -0.45 : 0.45) * c.span, 10.0});
            LogSweepPlots::drawResponse(s, response);
        } else {
            LogSweepPlots::drawDistortion(s, {{1000, {-40.0, -50.0, -60.0, -70.0}, 1.0}});
        }
        EXPECT_GE(labels.size(), c.minLabels);
        if (*c.mustShow) {
            EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](const auto& l) { return l.text == c.mustShow; }));
        }
        for (size_t i = 0; i < labels.size(); ++i) {
            const QRectF& box = labels[i].box;
            EXPECT_TRUE(box.left() >= 0 && box.top() >= 0 && box.right() <= s.pixelWidth()
                        && box.bottom() <= s.pixelHeight())
                << labels[i].text << " leaves the picture";
            for (size_t j = i + 1; j < labels.size(); ++j)
                EXPECT_FALSE(box.intersects(labels[j].box)) << labels[i].text << " runs into " << labels[j].text;
        }
    }
}

} // namespace

} // namespace audimera

// The response window under the offscreen platform: first size and
// placement, close only hiding, redraw on resize, the document's plot
// settings read at every redraw and what is painted.
#include "display/windows/FormResponse.h"

#include "display/models/Drawing.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace audimera {

namespace {

int columnOfHz(const DrawingSurface& picture, double f)
{
    const auto x = static_cast<float>(100 * Log10(f) - 100 * Log10(7.5));
    return static_cast<int>(std::floor(picture.toPixelX(x)));
}

class FormResponseTest : public ::testing::Test {
protected:
    MeasurementDocument document;
    TraceStore& traces = document.traces();
    FormResponse form{document};
};

TEST_F(FormResponseTest, StartsHiddenWithItsFirstSizeAndAnEmptyStore)
{
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.size(), QSize(792, 211));
    EXPECT_EQ(form.picture().Width(), 11880);
    EXPECT_EQ(form.picture().Height(), 3165);
    EXPECT_EQ(form.store().GetTraceCount(), 0);
    // Already drawn: the grid is there before the window is first shown.
    EXPECT_EQ(form.picture().pixelColor(columnOfHz(form.picture(), 1000), 40),
              rgbColor(0, 128, 0));
    const QColor back = form.palette().color(QPalette::Window);
    EXPECT_EQ(form.picture().backColor(), rgbColor(back.red(), back.green(), back.blue()));
}

TEST_F(FormResponseTest, ClosingOnlyHidesAndTellsTheMainWindow)
{
    int closedSignals = 0;
    QObject::connect(&form, &FormResponse::closedByUser, [&] { ++closedSignals; });
    ASSERT_TRUE(traces.AddTrace());
    traces.AddPoint(1000, 2);
    form.show();
    ASSERT_TRUE(form.isVisible());

    EXPECT_FALSE(form.close()); // refused
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(closedSignals, 1);
    EXPECT_EQ(form.store().GetTraceCount(), 1); // the traces stay

    form.show(); // ticking the box again shows the same traces
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.store().pointCount(0), 1);

    // At shut-down the program lets it close for real.
    form.setClosingAllowed(true);
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(closedSignals, 1);
}

TEST_F(FormResponseTest, ResizeRedrawsAtTheNewSize)
{
    form.show();
    form.resize(500, 300);
    QApplication::processEvents();
    EXPECT_EQ(form.picture().Width(), 500 * 15);
    EXPECT_EQ(form.picture().Height(), 300 * 15);
    EXPECT_EQ(form.picture().logicalPixelWidth(), 500);
    const int k1 = columnOfHz(form.picture(), 1000);
    EXPECT_EQ(k1, static_cast<int>(std::floor((100 * Log10(1000) - 100 * Log10(7.5)) * 500
                                              / (100 * Log10(22049) - 100 * Log10(7.5)))));
    EXPECT_EQ(form.picture().pixelColor(k1, 40), rgbColor(0, 128, 0));
}

TEST_F(FormResponseTest, TheDocumentsSettingsAreReadAtEveryRedraw)
{
    document.plot() = {12, 1};
    form.TraceResponse();
    EXPECT_EQ(form.picture().ScaleHeight(), 1200);
    document.plot() = ResponsePlot::settingsForIndices(3, 3);
    EXPECT_EQ(form.picture().ScaleHeight(), 1200); // nothing until the next redraw
    ASSERT_TRUE(traces.AddTrace());
    traces.AddPoint(1000, 0);
    form.TraceResponse();
    EXPECT_EQ(form.picture().ScaleHeight(), 9600);
}

TEST_F(FormResponseTest, PaintsTheRetainedPlot)
{
    ASSERT_TRUE(traces.AddTrace());
    ASSERT_TRUE(traces.AddTrace());
    traces.AddPoint(300, 3);
    traces.AddPoint(3000, 3);
    document.plot() = {12, 1};
    form.TraceResponse();
    const QImage shown = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(792, 211));
    const DrawingSurface& picture = form.picture();
    const int row = static_cast<int>(std::floor(picture.toPixelY(300)));
    EXPECT_EQ(shown.pixel(columnOfHz(picture, 1000), row), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(columnOfHz(picture, 1000), 5), qRgb(0, 128, 0));
    EXPECT_EQ(shown, picture.image().convertToFormat(QImage::Format_RGB32));
}

TEST_F(FormResponseTest, PlacedFullyOnTheScreen)
{
    const QRect screen = form.screen()->geometry();
    form.move(screen.right() - 100, screen.bottom() - 50);
    form.placeOnScreen();
    EXPECT_LE(form.frameGeometry().right(), screen.right());
    EXPECT_LE(form.frameGeometry().bottom(), screen.bottom());
    EXPECT_EQ(form.frameGeometry().left(), screen.x() + screen.width() - form.frameGeometry().width());

    const QPoint inside(screen.x() + (screen.width() - form.frameGeometry().width()) / 2,
                        screen.y() + 20);
    form.move(inside); // already on screen: left alone
    form.placeOnScreen();
    EXPECT_EQ(form.pos(), inside);
}

} // namespace

} // namespace audimera

// The response window under the offscreen platform: first size and
// placement, the refused ninth trace, close only hiding, redraw on resize,
// the settings read at every redraw and what is painted.
#include "FormResponse.h"

#include "Drawing.h"
#include "Host.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

class RecordingHost : public Host {
public:
    struct Message {
        std::string text;
        MessageIcon icon;
        MessageButtons buttons;
    };
    std::vector<Message> messages;

    void yield() override { QApplication::processEvents(); }
    void sleepMs(int) override {}
    MessageAnswer message(std::string_view text, MessageIcon icon, MessageButtons buttons) override
    {
        messages.push_back({std::string(text), icon, buttons});
        return MessageAnswer::Ok;
    }
};

int columnOfHz(const DrawingSurface& picture, double f)
{
    const auto x = static_cast<float>(100 * Log10(f) - 100 * Log10(7.5));
    return static_cast<int>(std::floor(picture.toPixelX(x)));
}

class FormResponseTest : public ::testing::Test {
protected:
    RecordingHost host;
    FormResponse form{host};
};

TEST_F(FormResponseTest, StartsHiddenWithItsFirstSizeAndAnEmptyStore)
{
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.size(), QSize(792, 211));
    EXPECT_EQ(form.picture().Width(), 11880);
    EXPECT_EQ(form.picture().Height(), 3165);
    EXPECT_EQ(form.GetTraceCount(), 0);
    // Already drawn: the grid is there before the window is first shown.
    EXPECT_EQ(form.picture().pixelColor(columnOfHz(form.picture(), 1000), 40),
              rgbColor(0, 128, 0));
    const QColor back = form.palette().color(QPalette::Window);
    EXPECT_EQ(form.picture().backColor(), rgbColor(back.red(), back.green(), back.blue()));
}

TEST_F(FormResponseTest, NinthTraceShowsTheMessageAndIsRefused)
{
    for (int t = 0; t < 8; ++t)
        EXPECT_TRUE(form.AddTrace());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_FALSE(form.AddTrace());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "You can't trace more than 8 curves, click on 'Clear' to erase current curves.");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(form.GetTraceCount(), 8);
    form.ClearAllTraces();
    EXPECT_EQ(form.GetTraceCount(), 0);
    EXPECT_TRUE(form.AddTrace());
}

TEST_F(FormResponseTest, ClosingOnlyHidesAndTellsTheMainWindow)
{
    int closedSignals = 0;
    QObject::connect(&form, &FormResponse::closedByUser, [&] { ++closedSignals; });
    ASSERT_TRUE(form.AddTrace());
    form.AddPoint(1000, 2);
    form.show();
    ASSERT_TRUE(form.isVisible());

    EXPECT_FALSE(form.close()); // refused
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(closedSignals, 1);
    EXPECT_EQ(form.GetTraceCount(), 1); // the traces stay

    form.show(); // ticking the box again shows the same traces
    EXPECT_TRUE(form.isVisible());
    std::vector<double> tx, ty;
    EXPECT_EQ(form.GetLastTraceData(tx, ty), 1);
    EXPECT_EQ(ty[0], 200);

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

TEST_F(FormResponseTest, SettingsAreReadAtEveryRedraw)
{
    ResponseSettings chosen{12, 1};
    int reads = 0;
    form.setSettingsSource([&] {
        ++reads;
        return chosen;
    });
    form.TraceResponse();
    EXPECT_EQ(form.picture().ScaleHeight(), 1200);
    chosen = ResponsePlot::settingsForIndices(3, 3);
    EXPECT_EQ(form.picture().ScaleHeight(), 1200); // nothing until the next redraw
    ASSERT_TRUE(form.AddTrace());
    form.AddPoint(1000, 0);
    form.TraceResponse();
    EXPECT_EQ(form.picture().ScaleHeight(), 9600);
    EXPECT_EQ(reads, 2);

    form.setSettingsSource(nullptr);
    form.setSettings({24, 2});
    form.TraceResponse();
    EXPECT_EQ(form.picture().ScaleHeight(), 2400);
}

TEST_F(FormResponseTest, PaintsTheRetainedPlot)
{
    ASSERT_TRUE(form.AddTrace());
    ASSERT_TRUE(form.AddTrace());
    form.AddPoint(300, 3);
    form.AddPoint(3000, 3);
    form.setSettings({12, 1});
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

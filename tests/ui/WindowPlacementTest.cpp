// Every window opens wholly inside the screen's available area, also from a
// place and size that no longer fit (a kept geometry from a larger screen).
#include "tests/ui/MainWindowFixture.h"

#include "display/windows/ScreenPlacement.h"
#include "ui/FormLogSweep.h"

#include <QScreen>

namespace audimera {

namespace {

TEST(FitInside, MovesAndShrinksOnlyWhatSticksOut)
{
    const QRect area(0, 30, 1000, 970);
    const struct {
        QRect frame, fitted;
    } rows[] = {
        {{100, 100, 640, 560}, {100, 100, 640, 560}},      // inside: left alone
        {{100, 600, 640, 560}, {100, 440, 640, 560}},      // below the bottom: up
        {{900, 0, 640, 560}, {360, 30, 640, 560}},         // right and above: left and down
        {{-3000, 2000, 720, 1200}, {0, 30, 720, 970}},     // another monitor, too high: in and shrunk
        {{50, 50, 2000, 400}, {0, 50, 1000, 400}},         // too wide
    };
    for (const auto& r : rows)
        EXPECT_EQ(fitInside(r.frame, area), r.fitted) << r.frame.x() << "," << r.frame.y();
}

class WindowPlacement : public MainWindowTest {};

TEST_F(WindowPlacement, EveryWindowOpensInsideTheAvailableArea)
{
    start();
    window->MenuEntryLogSweep_Click();
    window->MenuEntryHelp_Click();
    const std::vector<QWidget*> windows = visibleWindows();
    ASSERT_GE(windows.size(), 5u);
    for (QWidget* w : windows) {
        const QRect area = w->screen()->availableGeometry();
        EXPECT_TRUE(area.contains(w->frameGeometry())) << w->objectName().toStdString();
        // Hidden, kept far off and too large, then shown again.
        w->hide();
        w->setGeometry(area.right() + 500, area.bottom() + 300, area.width() + 300, area.height() + 300);
        w->show();
        EXPECT_TRUE(area.contains(w->frameGeometry())) << w->objectName().toStdString() << " reshown";
    }
}

} // namespace

} // namespace audimera

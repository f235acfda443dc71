#include "display/windows/ScreenPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace audimera {

QRect fitInside(const QRect& frame, const QRect& area)
{
    if (area.isEmpty() || area.contains(frame))
        return frame;
    const int width = std::min(frame.width(), area.width());
    const int height = std::min(frame.height(), area.height());
    const int x = std::clamp(frame.x(), area.x(), area.x() + area.width() - width);
    const int y = std::clamp(frame.y(), area.y(), area.y() + area.height() - height);
    return {x, y, width, height};
}

void keepInsideScreen(QWidget& window)
{
    QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    // Frame sizes around the client area: known once the window manager has
    // framed the window; before that the title bar is estimated.
    QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                     frame.bottom() - client.bottom());
    if (frame == client) {
        margins = QMargins(0, window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window), 0, 0);
        frame = QRect(window.pos(), client.size() + QSize(0, margins.top()));
    }
    const QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = window.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect fitted = fitInside(frame, screen->availableGeometry());
    if (fitted == frame)
        return;
    const QSize size(fitted.width() - margins.left() - margins.right(),
                     fitted.height() - margins.top() - margins.bottom());
    if (size != client.size())
        window.resize(size.expandedTo(window.minimumSize()));
    window.move(fitted.topLeft());
}

} // namespace audimera

#include "ui/LogSweepView.h"

#include "display/models/LogSweepPlots.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace audimera {

LogSweepView::LogSweepView(Draw draw, QWidget* parent)
    : QWidget(parent), m_draw(std::move(draw)), m_surface(LogSweepPlots::UnitsPerPixel)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setMinimumSize(320, 160);
    const QColor back = palette().color(QPalette::Window);
    m_surface.setBackColor(rgbColor(back.red(), back.green(), back.blue()));
    fit();
    redraw();
}

void LogSweepView::fit()
{
    m_surface.setDevicePixelRatio(devicePixelRatioF());
    m_surface.setSize(width() * LogSweepPlots::UnitsPerPixel, height() * LogSweepPlots::UnitsPerPixel);
}

void LogSweepView::redraw()
{
    if (m_draw)
        m_draw(m_surface);
    update();
}

QPointF LogSweepView::userAt(QPointF p) const
{
    const double w = std::max(1, m_surface.logicalPixelWidth());
    const double h = std::max(1, m_surface.logicalPixelHeight());
    return {p.x() * m_surface.ScaleWidth() / w, p.y() * m_surface.ScaleHeight() / h};
}

void LogSweepView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fit();
    redraw();
}

void LogSweepView::paintEvent(QPaintEvent* event)
{
    // On a screen of another density: drawn anew at its resolution.
    if (std::max(1.0, devicePixelRatioF()) != m_surface.devicePixelRatio()) {
        fit();
        if (m_draw)
            m_draw(m_surface);
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawImage(QPoint(0, 0), m_surface.image());
}

void LogSweepView::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF user = userAt(event->position());
    emit hovered(user.x(), user.y());
    QWidget::mouseMoveEvent(event);
}

void LogSweepView::leaveEvent(QEvent* event)
{
    emit left();
    QWidget::leaveEvent(event);
}

} // namespace audimera

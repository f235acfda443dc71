// One view of the log-sweep window: a retained DrawingSurface in twips that
// covers the widget, drawn by the function it is given (one of
// LogSweepPlots) at every resize and on request, and painted 1:1 onto device
// pixels. Reports the mouse in the surface's user units for the read-out.
// UI thread only.
#pragma once

#include "display/models/DrawingSurface.h"

#include <QWidget>

#include <functional>

namespace audimera {

class LogSweepView : public QWidget {
    Q_OBJECT

public:
    using Draw = std::function<void(DrawingSurface&)>;

    explicit LogSweepView(Draw draw, QWidget* parent = nullptr);

    // Draws the surface anew and repaints.
    void redraw();

    const DrawingSurface& surface() const { return m_surface; }
    // The surface's user coordinates at a point of the widget (logical pixels).
    QPointF userAt(QPointF widgetPoint) const;

signals:
    // The mouse moved over the view, at user coordinates (x, y).
    void hovered(double x, double y);
    void left();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void fit();

    Draw m_draw;
    DrawingSurface m_surface;
};

} // namespace audimera

#include "display/windows/FormInputWave.h"

#include <QCloseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <utility>

namespace audimera {

FormInputWave::FormInputWave(QWidget* parent)
    : FormWindow(parent)
{
    setObjectName(QStringLiteral("FormInputWave"));
    setWindowTitle(QStringLiteral("Input Wave Form"));
    // The surface covers everything; no background erase under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(qRound(InitialWidthTwips / TwipsPerPixel), qRound(InitialHeightTwips / TwipsPerPixel));
    placeOnScreen();
    // A hidden widget gets its resize event only when first shown; the
    // picture is ready before that.
    fitPicture();
    m_plot.Redraw();
}

void FormInputWave::setFrequencySource(std::function<double()> source)
{
    m_plot.setFrequencySource(std::move(source));
}

void FormInputWave::DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First,
                              bool CheckSat, int Off)
{
    m_plot.DrawCurve(OsciWidth, OsciHeight, RecBuffer, First, CheckSat, Off);
    update();
}

void FormInputWave::Redraw()
{
    m_plot.Redraw();
    update();
}


void FormInputWave::fitPicture()
{
    DrawingSurface& picture = m_plot.surface();
    picture.setDevicePixelRatio(devicePixelRatioF());
    picture.setSize(width(), height());
}


void FormInputWave::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The user scale stays, so the same picture is stretched over the new
    // size. Events are not processed here: a resize arrives with the
    // geometry already final, and a nested event loop inside it could run
    // the engine's handlers re-entrantly.
    fitPicture();
    Redraw();
}

void FormInputWave::paintEvent(QPaintEvent* event)
{
    // Moved to a screen of another density: redraw at its resolution.
    if (std::max(1.0, devicePixelRatioF()) != m_plot.surface().devicePixelRatio()) {
        fitPicture();
        m_plot.Redraw();
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    if (m_plot.surface().image().isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // The image carries its pixel ratio, so it maps 1:1 onto device pixels.
    painter.drawImage(QPoint(0, 0), m_plot.surface().image());
}

} // namespace audimera

#include "display/windows/FormFFT.h"

#include <QCloseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

namespace audimera {

FormFFT::FormFFT(QWidget* parent)
    : FormWindow(parent)
{
    setObjectName(QStringLiteral("FormFFT"));
    setWindowTitle(QStringLiteral("Fast Fourier Transform FFT"));
    // The surface covers everything; no background erase under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(InitialWidth, InitialHeight);
    placeOnScreen();
    // A hidden widget gets its resize event only when first shown; the
    // picture is ready before that.
    fitPicture();
    m_plot.DrawGrid();
}

void FormFFT::InitFFTTables()
{
    m_plot.audioFFT().InitFFTTables();
}

void FormFFT::TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured)
{
    m_plot.TraceFFT(FFTIn, FFTOUT, Satured);
    update();
}

void FormFFT::DrawGrid()
{
    m_plot.DrawGrid();
    update();
}


void FormFFT::fitPicture()
{
    DrawingSurface& picture = m_plot.Picture1();
    picture.setDevicePixelRatio(devicePixelRatioF());
    picture.setSize(width(), height());
}


void FormFFT::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The spectrum cannot be redrawn without the caller's block, so a resize
    // that leaves the picture as it was (the first showing of a window that
    // already drew) keeps it; a real one starts again from the grid.
    const DrawingSurface& picture = m_plot.Picture1();
    const double width = picture.Width();
    const double height = picture.Height();
    const double ratio = picture.devicePixelRatio();
    fitPicture();
    if (picture.Width() != width || picture.Height() != height
        || picture.devicePixelRatio() != ratio || picture.image().isNull())
        DrawGrid();
}

void FormFFT::paintEvent(QPaintEvent* event)
{
    // Moved to a screen of another density: the grid at its resolution (the
    // spectrum returns with the next block, as after a resize).
    if (std::max(1.0, devicePixelRatioF()) != m_plot.Picture1().devicePixelRatio()) {
        fitPicture();
        m_plot.DrawGrid();
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    if (m_plot.Picture1().image().isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // The image carries its pixel ratio, so it maps 1:1 onto device pixels.
    painter.drawImage(QPoint(0, 0), m_plot.Picture1().image());
}

} // namespace audimera

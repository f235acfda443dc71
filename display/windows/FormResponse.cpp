#include "display/windows/FormResponse.h"

#include "display/models/ResponseImage.h"

#include <QAction>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace audimera {

FormResponse::FormResponse(const MeasurementDocument& document, QWidget* parent)
    : FormWindow(parent), m_document(document), m_picture(ResponsePlot::TwipsPerPixel)
{
    setObjectName(QStringLiteral("FormResponse"));
    setWindowTitle(QStringLiteral("Frequency Response"));
    // The surface covers everything; no background erase under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    const QColor back = palette().color(QPalette::Window);
    m_picture.setBackColor(rgbColor(back.red(), back.green(), back.blue()));
    resize(qRound(InitialWidthTwips / ResponsePlot::TwipsPerPixel),
           qRound(InitialHeightTwips / ResponsePlot::TwipsPerPixel));
    placeOnScreen();
    // The context menu: the range that shows every trace.
    auto* fit = new QAction(QStringLiteral("Fit Range to Traces"), this);
    fit->setObjectName(QStringLiteral("MenuEntryFitRange"));
    connect(fit, &QAction::triggered, this, &FormResponse::fitRangeRequested);
    addAction(fit);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    // A hidden widget gets its resize event only when first shown; the
    // picture is ready before that.
    fitPicture();
    TraceResponse();
}

void FormResponse::TraceResponse()
{
    m_plot.TraceResponse(m_picture, m_document.traces(), m_document.plot());
    update();
}

Status FormResponse::savePng(const std::string& path, double scale, bool legend) const
{
    const PictureCaptions captions =
        legend ? PictureCaptions::forResponse(m_document.traces(), m_document.traceNames(), &m_document.plot()) : PictureCaptions{};
    return ResponseImage::writePng(path, m_document.traces(), m_document.plot(), width(), height(),
                                   m_picture.backColor(), scale, captions);
}

Status FormResponse::saveSvg(const std::string& path, bool legend) const
{
    const PictureCaptions captions =
        legend ? PictureCaptions::forResponse(m_document.traces(), m_document.traceNames(), &m_document.plot()) : PictureCaptions{};
    return ResponseImage::writeSvg(path, m_document.traces(), m_document.plot(), width(), height(),
                                   m_picture.backColor(), captions);
}

void FormResponse::fitPicture()
{
    m_picture.setDevicePixelRatio(devicePixelRatioF());
    m_picture.setSize(width() * ResponsePlot::TwipsPerPixel, height() * ResponsePlot::TwipsPerPixel);
}

void FormResponse::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitPicture();
    TraceResponse();
}

void FormResponse::paintEvent(QPaintEvent* event)
{
    // Moving to a screen of another density: redraw at its resolution.
    if (std::max(1.0, devicePixelRatioF()) != m_picture.devicePixelRatio()) {
        fitPicture();
        m_plot.TraceResponse(m_picture, m_document.traces(), m_document.plot());
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    // The image carries its pixel ratio, so it maps 1:1 onto device pixels.
    painter.drawImage(QPoint(0, 0), m_picture.image());
}

} // namespace audimera

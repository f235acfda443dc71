#include "FormResponse.h"

#include <QCloseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

FormResponse::FormResponse(Host& host, QWidget* parent)
    : FormWindow(parent), m_host(host), m_picture(ResponsePlot::TwipsPerPixel)
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
    // A hidden widget gets its resize event only when first shown; the
    // picture is ready before that.
    fitPicture();
    TraceResponse();
}

bool FormResponse::AddTrace()
{
    if (m_store.AddTrace())
        return true;
    m_host.message(TraceStore::TooManyTracesMessage, MessageIcon::Critical, MessageButtons::Ok);
    return false;
}

void FormResponse::AddPoint(double Frequency, double dBA)
{
    m_store.AddPoint(Frequency, dBA);
}

void FormResponse::TraceResponse()
{
    m_plot.TraceResponse(m_picture, m_store, currentSettings());
    update();
}

int FormResponse::GetTraceCount() const
{
    return m_store.GetTraceCount();
}

void FormResponse::ClearAllTraces()
{
    m_store.ClearAllTraces();
}

int32_t FormResponse::GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const
{
    return m_store.GetLastTraceData(Tx, Ty);
}

void FormResponse::setSettingsSource(std::function<ResponseSettings()> source)
{
    m_settingsSource = std::move(source);
}

void FormResponse::setSettings(const ResponseSettings& settings)
{
    m_settings = settings;
}

ResponseSettings FormResponse::currentSettings() const
{
    return m_settingsSource ? m_settingsSource() : m_settings;
}


void FormResponse::fitPicture()
{
    m_picture.setDevicePixelRatio(devicePixelRatioF());
    m_picture.setSize(width() * ResponsePlot::TwipsPerPixel,
                      height() * ResponsePlot::TwipsPerPixel);
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
        m_plot.TraceResponse(m_picture, m_store, currentSettings());
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    // The image carries its pixel ratio, so it maps 1:1 onto device pixels.
    painter.drawImage(QPoint(0, 0), m_picture.image());
}

#include "display/models/PictureCaptions.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>

namespace audimera {

namespace {

QColor qcolor(RgbColor c)
{
    return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff);
}

QFont captionFont()
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(12);
    return font;
}

// The band a title takes: one line of the caption font and a margin.
int band(const std::string& title)
{
    return title.empty() ? 0 : QFontMetrics(captionFont()).height() + 4;
}

} // namespace

void PictureCaptions::prepareFonts()
{
    if (QGuiApplication::instance())
        return;
    static int argc = 3;
    static char name[] = "audimera-measure", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    // Lives to the end of the program, as the application object does.
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}

PictureCaptions PictureCaptions::forResponse(const TraceStore& store, const std::vector<std::string>& names,
                                             const PlotSettings* plot)
{
    PictureCaptions captions;
    for (int t = 0; t < store.GetTraceCount(); ++t) {
        if (plot && !plot->traceShown[static_cast<std::size_t>(t)])
            continue;
        const bool named = t < static_cast<int>(names.size()) && !names[t].empty();
        captions.legend.push_back({named ? names[t] : "Trace " + std::to_string(t + 1), TraceStore::traceColor(t)});
    }
    captions.xTitle = "Frequency (Hz)";
    captions.yTitle = "Level (dB)";
    return captions;
}

QRect PictureCaptions::plotArea(int widthPx, int heightPx) const
{
    const int left = band(yTitle), right = band(y2Title), bottom = band(xTitle);
    return QRect(left, 0, std::max(widthPx - left - right, 1), std::max(heightPx - bottom, 1));
}

void PictureCaptions::paint(QPainter& painter, int widthPx, int heightPx, RgbColor background) const
{
    const QRect plot = plotArea(widthPx, heightPx);
    const QFont font = captionFont();
    const QFontMetrics metrics(font);
    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::black);
    if (!xTitle.empty())
        painter.drawText(QRect(plot.left(), plot.bottom() + 1, plot.width(), heightPx - plot.bottom() - 1),
                         Qt::AlignCenter, QString::fromStdString(xTitle));
    const auto vertical = [&](const std::string& title, int x, int angle) {
        if (title.empty())
            return;
        painter.save();
        painter.translate(x, plot.center().y());
        painter.rotate(angle);
        painter.drawText(QRect(-plot.height() / 2, -band(title) / 2, plot.height(), band(title)), Qt::AlignCenter,
                         QString::fromStdString(title));
        painter.restore();
    };
    vertical(yTitle, band(yTitle) / 2, -90);
    vertical(y2Title, widthPx - band(y2Title) / 2, 90);

    if (!legend.empty()) {
        constexpr int pad = 4, swatch = 18, inset = 6;
        int textWidth = 0;
        for (const Entry& e : legend)
            textWidth = std::max(textWidth, metrics.horizontalAdvance(QString::fromStdString(e.name)));
        const int rowHeight = metrics.height();
        const QRect box(plot.right() - inset - (2 * pad + swatch + pad + textWidth), plot.top() + inset,
                        2 * pad + swatch + pad + textWidth, 2 * pad + rowHeight * static_cast<int>(legend.size()));
        painter.fillRect(box, qcolor(background));
        painter.setPen(QPen(Qt::darkGray, 1));
        painter.drawRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
        for (size_t i = 0; i < legend.size(); ++i) {
            const int y = box.top() + pad + rowHeight * static_cast<int>(i);
            const QColor color = qcolor(legend[i].color);
            painter.fillRect(QRect(box.left() + pad, y + rowHeight / 2 - 1, swatch, 3), color);
            painter.setPen(color);
            painter.drawText(QRect(box.left() + 2 * pad + swatch, y, textWidth + pad, rowHeight),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(legend[i].name));
        }
    }
    painter.restore();
}

} // namespace audimera

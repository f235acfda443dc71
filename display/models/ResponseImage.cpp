#include "display/models/ResponseImage.h"

#include "curves/CurveFile.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace audimera {

namespace {

constexpr int kMaxSide = 16384;

Status saveError(const std::string& path, const QString& reason)
{
    return Error::of(Failure::File, CurveFile::saveError(path, reason.toStdString()));
}

bool validSize(int widthPx, int heightPx, double scale)
{
    return widthPx > 0 && heightPx > 0 && scale >= 1 && widthPx * scale <= kMaxSide
        && heightPx * scale <= kMaxSide;
}

Status saveBytes(const QByteArray& bytes, const std::string& path)
{
    const Status written = CurveFile::writeText(path, std::string(bytes.constData(), bytes.size()));
    return written ? Status() : saveError(path, QString::fromStdString(written.message()));
}

} // namespace

QImage ResponseImage::render(const TraceStore& store, const ResponseSettings& settings,
                             int widthPx, int heightPx, RgbColor background, double scale,
                             const PictureCaptions& captions)
{
    if (!validSize(widthPx, heightPx, scale))
        return QImage();
    const QRect area = captions.plotArea(widthPx, heightPx);
    DrawingSurface picture(ResponsePlot::TwipsPerPixel);
    picture.setBackColor(background);
    picture.setDevicePixelRatio(scale);
    picture.setSize(area.width() * ResponsePlot::TwipsPerPixel, area.height() * ResponsePlot::TwipsPerPixel);
    ResponsePlot plot;
    plot.TraceResponse(picture, store, settings);
    return withCaptions(picture.image(), captions, widthPx, heightPx, background, scale);
}

QImage ResponseImage::withCaptions(const QImage& plot, const PictureCaptions& captions, int widthPx,
                                   int heightPx, RgbColor background, double scale)
{
    if (captions.empty() || plot.isNull())
        return plot;
    QImage image(static_cast<int>(std::lround(widthPx * scale)), static_cast<int>(std::lround(heightPx * scale)),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(QColor(background & 0xff, (background >> 8) & 0xff, (background >> 16) & 0xff));
    QPainter painter(&image);
    // The plot's image carries the same ratio: drawn at its logical size.
    painter.drawImage(captions.plotArea(widthPx, heightPx).topLeft(), plot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    captions.paint(painter, widthPx, heightPx, background);
    painter.end();
    return image;
}

Status ResponseImage::writePng(const std::string& path, const TraceStore& store,
                               const ResponseSettings& settings, int widthPx, int heightPx,
                               RgbColor background, double scale, const PictureCaptions& captions)
{
    const QImage image = render(store, settings, widthPx, heightPx, background, scale, captions);
    if (image.isNull())
        return saveError(path, QStringLiteral("invalid image size %1x%2").arg(widthPx).arg(heightPx));
    return savePng(image, path);
}

Status ResponseImage::savePng(const QImage& image, const std::string& path)
{
    const Result<std::string> bytes = pngBytes(image);
    if (!bytes)
        return saveError(path, QString::fromStdString(bytes.error().message));
    return saveBytes(QByteArray::fromStdString(*bytes), path);
}

Result<std::string> ResponseImage::pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (image.isNull() || !writer.write(image))
        return Error::of(Failure::File,
                         image.isNull() ? std::string("invalid image size") : writer.errorString().toStdString());
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray ResponseImage::svg(const TraceStore& store, const ResponseSettings& settings, int widthPx,
                              int heightPx, RgbColor background, const PictureCaptions& captions)
{
    if (!validSize(widthPx, heightPx, 1))
        return {};
    const QRect area = captions.plotArea(widthPx, heightPx);
    DrawingSurface picture(ResponsePlot::TwipsPerPixel);
    std::vector<DrawingSurface::Stroke> strokes;
    picture.setRecording(&strokes);
    picture.setBackColor(background);
    picture.setSize(area.width() * ResponsePlot::TwipsPerPixel, area.height() * ResponsePlot::TwipsPerPixel);
    ResponsePlot plot;
    plot.TraceResponse(picture, store, settings);
    picture.setRecording(nullptr);

    QByteArray bytes;
    paintSvg(bytes, widthPx, heightPx, background, QStringLiteral("Frequency Response"), [&](QPainter& painter) {
        painter.save();
        painter.translate(area.topLeft());
        DrawingSurface::paintRecording(painter, strokes);
        painter.restore();
        if (!captions.empty())
            captions.paint(painter, widthPx, heightPx, background);
    });
    return bytes;
}

bool ResponseImage::paintSvg(QByteArray& bytes, int widthPx, int heightPx, RgbColor background,
                             const QString& title, const std::function<void(QPainter&)>& paint)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(QSize(widthPx, heightPx));
    generator.setViewBox(QRect(0, 0, widthPx, heightPx));
    if (!title.isEmpty())
        generator.setTitle(title);
    generator.setDescription(QStringLiteral("Audimera"));
    QPainter painter(&generator);
    painter.fillRect(QRect(0, 0, widthPx, heightPx),
                     QColor(background & 0xff, (background >> 8) & 0xff, (background >> 16) & 0xff));
    paint(painter);
    return painter.end();
}

Status ResponseImage::writeSvg(const std::string& path, const TraceStore& store,
                               const ResponseSettings& settings, int widthPx, int heightPx,
                               RgbColor background, const PictureCaptions& captions)
{
    const QByteArray bytes = svg(store, settings, widthPx, heightPx, background, captions);
    if (bytes.isEmpty())
        return saveError(path, QStringLiteral("invalid picture size %1x%2").arg(widthPx).arg(heightPx));
    return saveBytes(bytes, path);
}

bool ResponseImage::parseSize(std::string_view text, int* widthPx, int* heightPx)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos)
        return false;
    auto number = [](std::string_view s, int* out) {
        int value = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
        if (ec != std::errc() || end != s.data() + s.size() || value <= 0 || value > kMaxSide)
            return false;
        *out = value;
        return true;
    };
    int w = 0;
    int h = 0;
    if (!number(text.substr(0, x), &w) || !number(text.substr(x + 1), &h))
        return false;
    *widthPx = w;
    *heightPx = h;
    return true;
}

} // namespace audimera

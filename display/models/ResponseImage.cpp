#include "display/models/ResponseImage.h"

#include <QImageWriter>
#include <QSaveFile>

#include <charconv>

namespace audimera {

namespace {

constexpr int kMaxSide = 16384;

std::string saveError(const std::string& path, const QString& reason)
{
    return "Error saving file '" + path + "' : " + reason.toStdString();
}

} // namespace

QImage ResponseImage::render(const TraceStore& store, const ResponseSettings& settings,
                             int widthPx, int heightPx, RgbColor background)
{
    if (widthPx <= 0 || heightPx <= 0 || widthPx > kMaxSide || heightPx > kMaxSide)
        return QImage();
    DrawingSurface picture(ResponsePlot::TwipsPerPixel);
    picture.setBackColor(background);
    picture.setSize(widthPx * ResponsePlot::TwipsPerPixel, heightPx * ResponsePlot::TwipsPerPixel);
    ResponsePlot plot;
    plot.TraceResponse(picture, store, settings);
    return picture.image();
}

std::string ResponseImage::writePng(const std::string& path, const TraceStore& store,
                                    const ResponseSettings& settings, int widthPx, int heightPx,
                                    RgbColor background)
{
    const QImage image = render(store, settings, widthPx, heightPx, background);
    if (image.isNull())
        return saveError(path, QStringLiteral("invalid image size %1x%2").arg(widthPx).arg(heightPx));
    return savePng(image, path);
}

std::string ResponseImage::savePng(const QImage& image, const std::string& path)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return saveError(path, file.errorString());
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        file.cancelWriting();
        return saveError(path, writer.errorString());
    }
    if (!file.commit())
        return saveError(path, file.errorString());
    return {};
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

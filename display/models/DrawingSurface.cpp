#include "display/models/DrawingSurface.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

uint32_t toArgb(RgbColor color)
{
    const uint32_t r = color & 0xff;
    const uint32_t g = (color >> 8) & 0xff;
    const uint32_t b = (color >> 16) & 0xff;
    return 0xff000000u | (r << 16) | (g << 8) | b;
}

// Liang-Barsky: trims the segment to the rectangle; false when nothing of it
// lies inside.
bool clipSegment(double& x1, double& y1, double& x2, double& y2, double xMin, double yMin,
                 double xMax, double yMax)
{
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    double t0 = 0.0;
    double t1 = 1.0;
    auto edge = [&](double p, double q) {
        if (p == 0.0)
            return q >= 0.0;
        const double r = q / p;
        if (p < 0.0) {
            if (r > t1)
                return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0)
                return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!edge(-dx, x1 - xMin) || !edge(dx, xMax - x1) || !edge(-dy, y1 - yMin)
        || !edge(dy, yMax - y1))
        return false;
    if (t1 < 1.0) {
        x2 = x1 + t1 * dx;
        y2 = y1 + t1 * dy;
    }
    if (t0 > 0.0) {
        x1 += t0 * dx;
        y1 += t0 * dy;
    }
    return true;
}

} // namespace

DrawingSurface::DrawingSurface(double unitsPerPixel)
    : m_unitsPerPixel(unitsPerPixel > 0 ? unitsPerPixel : 1.0)
{
}

void DrawingSurface::setSize(double width, double height)
{
    width = std::isfinite(width) ? std::max(width, 0.0) : 0.0;
    height = std::isfinite(height) ? std::max(height, 0.0) : 0.0;
    if (width == m_width && height == m_height && !m_image.isNull())
        return;
    m_width = width;
    m_height = height;
    rebuildImage();
}

void DrawingSurface::setDevicePixelRatio(double ratio)
{
    ratio = std::isfinite(ratio) ? std::max(ratio, 1.0) : 1.0;
    if (ratio == m_ratio)
        return;
    m_ratio = ratio;
    rebuildImage();
}

void DrawingSurface::setScaleWidth(float scaleWidth)
{
    m_scaleWidth = scaleWidth;
    updateFactors();
}

void DrawingSurface::setScaleHeight(float scaleHeight)
{
    m_scaleHeight = scaleHeight;
    updateFactors();
}

void DrawingSurface::rebuildImage()
{
    // Sizes come from window geometry; the cap only guards against nonsense.
    constexpr double maxPixels = 32767;
    m_logicalWidth = static_cast<int>(std::lround(std::min(m_width / m_unitsPerPixel, maxPixels)));
    m_logicalHeight =
        static_cast<int>(std::lround(std::min(m_height / m_unitsPerPixel, maxPixels)));
    const int w = static_cast<int>(std::lround(std::min(m_logicalWidth * m_ratio, maxPixels)));
    const int h = static_cast<int>(std::lround(std::min(m_logicalHeight * m_ratio, maxPixels)));
    if (w > 0 && h > 0) {
        m_image = QImage(w, h, QImage::Format_RGB32);
        m_image.setDevicePixelRatio(m_ratio);
        m_image.fill(toArgb(m_backColor));
    } else {
        m_image = QImage();
    }
    m_bits = nullptr;
    m_pixelWidth = m_image.width();
    m_pixelHeight = m_image.height();
    updateFactors();
}

void DrawingSurface::updateFactors()
{
    const bool usable = m_scaleWidth > 0 && m_scaleHeight > 0 && std::isfinite(m_scaleWidth)
        && std::isfinite(m_scaleHeight) && !m_image.isNull();
    m_kx = usable ? m_image.width() / static_cast<double>(m_scaleWidth) : 0.0;
    m_ky = usable ? m_image.height() / static_cast<double>(m_scaleHeight) : 0.0;
}

double DrawingSurface::toPixelX(float x) const
{
    return x * m_kx;
}

double DrawingSurface::toPixelY(float y) const
{
    return y * m_ky;
}

void DrawingSurface::clear()
{
    if (!m_image.isNull()) {
        m_image.fill(toArgb(m_backColor)); // may detach: the kept pointer goes
        m_bits = nullptr;
        m_modified = true;
    }
    m_penX = 0;
    m_penY = 0;
    if (m_recording)
        m_recording->clear();
    if (m_labelLog)
        m_labelLog->clear();
}

void DrawingSurface::moveTo(float x, float y)
{
    m_penX = x;
    m_penY = y;
}

void DrawingSurface::line(float x1, float y1, float x2, float y2, RgbColor color)
{
    m_penX = x2;
    m_penY = y2;
    if (m_kx > 0) {
        drawSegment(x1 * m_kx, y1 * m_ky, x2 * m_kx, y2 * m_ky, toArgb(color));
        if (m_recording)
            recordSegment(x1 * m_kx, y1 * m_ky, x2 * m_kx, y2 * m_ky, color);
    }
}

void DrawingSurface::lineTo(float x, float y, RgbColor color)
{
    line(m_penX, m_penY, x, y, color);
}

void DrawingSurface::setPoint(float x, float y, RgbColor color)
{
    m_penX = x;
    m_penY = y;
    if (m_kx <= 0)
        return;
    const double px = std::floor(x * m_kx);
    const double py = std::floor(y * m_ky);
    if (px >= 0 && py >= 0 && px < m_pixelWidth && py < m_pixelHeight) {
        plot(static_cast<int>(px), static_cast<int>(py), toArgb(color));
        if (m_recording)
            recordPoint(x * m_kx, y * m_ky, color);
    }
}

void DrawingSurface::recordPoint(double px, double py, RgbColor color)
{
    m_recording->push_back(Stroke{color, {QPointF(px, py)}, Stroke::Kind::Line, {}, {}});
}

void DrawingSurface::recordSegment(double px1, double py1, double px2, double py2, RgbColor color)
{
    if (!std::isfinite(px1) || !std::isfinite(py1) || !std::isfinite(px2) || !std::isfinite(py2))
        return;
    // Clipped as the raster is, so far ends stay near the picture.
    if (!clipSegment(px1, py1, px2, py2, -1.0, -1.0, m_pixelWidth + 1.0, m_pixelHeight + 1.0))
        return;
    const QPointF from(px1, py1);
    const QPointF to(px2, py2);
    if (!m_recording->empty()) {
        Stroke& last = m_recording->back();
        if (last.kind == Stroke::Kind::Line && last.color == color && last.points.back() == from) {
            if (to != from)
                last.points.push_back(to);
            return;
        }
    }
    m_recording->push_back(Stroke{color, {from, to}, Stroke::Kind::Line, {}, {}});
}

void DrawingSurface::fillUnder(const std::vector<QPointF>& points, float baseY, RgbColor color)
{
    if (m_kx <= 0 || points.size() < 2)
        return;
    const double base = baseY * m_ky;
    if (!std::isfinite(base))
        return;
    const uint32_t argb = toArgb(color);
    const double w = m_pixelWidth, h = m_pixelHeight;
    // Each segment fills the columns whose centres lie in [x1, x2); the
    // last one also its end column.
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        double x1 = points[i].x() * m_kx, y1 = points[i].y() * m_ky;
        double x2 = points[i + 1].x() * m_kx, y2 = points[i + 1].y() * m_ky;
        if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
            continue;
        if (x2 < x1) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        const bool last = i + 2 == points.size();
        const int first = static_cast<int>(std::max(std::ceil(x1 - 0.5), 0.0));
        const double endCentre = std::min(x2 - 0.5, w - 1);
        for (int c = first; c <= endCentre; ++c) {
            const double centre = c + 0.5;
            if (centre == x2 && !last && x2 != x1)
                break;
            const double y = x2 > x1 ? y1 + (y2 - y1) * (centre - x1) / (x2 - x1) : std::min(y1, y2);
            const double top = std::max(std::ceil(std::min(y, base) - 0.5), 0.0);
            const double bottom = std::min(std::floor(std::max(y, base) - 0.5), h - 1);
            if (top <= bottom)
                verticalRun(c, static_cast<int>(top), static_cast<int>(bottom), argb);
        }
    }
    if (m_recording) {
        Stroke fill{color, {}, Stroke::Kind::Fill, {}, {}};
        for (const QPointF& p : points)
            fill.points.emplace_back(p.x() * m_kx, p.y() * m_ky);
        fill.points.emplace_back(points.back().x() * m_kx, base);
        fill.points.emplace_back(points.front().x() * m_kx, base);
        m_recording->push_back(std::move(fill));
    }
}

void DrawingSurface::drawImage(float x1, float y1, float x2, float y2, const QImage& image)
{
    if (m_kx <= 0 || image.isNull())
        return;
    const double left = std::min(x1, x2) * m_kx, right = std::max(x1, x2) * m_kx;
    const double top = std::min(y1, y2) * m_ky, bottom = std::max(y1, y2) * m_ky;
    if (!std::isfinite(left) || !std::isfinite(right) || !std::isfinite(top) || !std::isfinite(bottom)
        || !(right > left) || !(bottom > top))
        return;
    const QImage source = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
        ? image
        : image.convertToFormat(QImage::Format_RGB32);
    const int c0 = static_cast<int>(std::max(std::ceil(left - 0.5), 0.0));
    const int c1 = static_cast<int>(std::min(std::ceil(right - 0.5), static_cast<double>(m_pixelWidth)));
    const int r0 = static_cast<int>(std::max(std::ceil(top - 0.5), 0.0));
    const int r1 = static_cast<int>(std::min(std::ceil(bottom - 0.5), static_cast<double>(m_pixelHeight)));
    if (c0 < c1 && r0 < r1) {
        // The source column of each device column, once.
        std::vector<int> columns(static_cast<std::size_t>(c1 - c0));
        for (int c = c0; c < c1; ++c)
            columns[static_cast<std::size_t>(c - c0)] =
                std::clamp(static_cast<int>((c + 0.5 - left) / (right - left) * source.width()), 0, source.width() - 1);
        uchar* const bits = pixels();
        for (int r = r0; r < r1; ++r) {
            const int sr = std::clamp(static_cast<int>((r + 0.5 - top) / (bottom - top) * source.height()), 0,
                                      source.height() - 1);
            const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(sr));
            auto* to = reinterpret_cast<QRgb*>(bits + r * m_stride);
            for (int c = c0; c < c1; ++c)
                to[c] = 0xff000000u | from[columns[static_cast<std::size_t>(c - c0)]];
        }
    }
    if (m_recording)
        m_recording->push_back(Stroke{0, {}, Stroke::Kind::Image, source, QRectF(left, top, right - left, bottom - top)});
}

void DrawingSurface::paintRecording(QPainter& painter, const std::vector<Stroke>& strokes)
{
    const auto qcolor = [](RgbColor c) { return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff); };
    for (const Stroke& stroke : strokes) {
        if (stroke.kind == Stroke::Kind::Image) {
            painter.drawImage(stroke.rect, stroke.image);
            continue;
        }
        if (stroke.kind == Stroke::Kind::Fill) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(qcolor(stroke.color));
            painter.drawPolygon(stroke.points.data(), static_cast<int>(stroke.points.size()));
            painter.setBrush(Qt::NoBrush);
            continue;
        }
        const bool onePixel = std::all_of(stroke.points.begin(), stroke.points.end(),
                                          [&](const QPointF& p) { return p == stroke.points.front(); });
        if (onePixel) {
            const QPointF& p = stroke.points.front();
            painter.fillRect(QRectF(p.x() - 0.5, p.y() - 0.5, 1, 1), qcolor(stroke.color));
            continue;
        }
        // Square caps cover the end pixels, as the raster line does.
        painter.setPen(QPen(qcolor(stroke.color), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.drawPolyline(stroke.points.data(), static_cast<int>(stroke.points.size()));
    }
}

uint32_t DrawingSurface::pixelColor(int px, int py) const
{
    if (px < 0 || py < 0 || px >= m_pixelWidth || py >= m_pixelHeight)
        return 0xffffffffu;
    const QRgb argb = reinterpret_cast<const QRgb*>(m_image.constScanLine(py))[px];
    return rgbColor(qRed(argb), qGreen(argb), qBlue(argb));
}

void DrawingSurface::plot(int px, int py, uint32_t argb)
{
    reinterpret_cast<QRgb*>(pixels() + py * m_stride)[px] = argb;
}

uchar* DrawingSurface::pixels()
{
    // Writing through a kept pointer is safe only while nobody shares the
    // image; a shared image is detached (copied) first, as bits() does.
    if (!m_bits || !m_image.isDetached()) {
        m_bits = m_image.bits();
        m_stride = m_image.bytesPerLine();
    }
    m_modified = true;
    return m_bits;
}

const QImage& DrawingSurface::image() const
{
    // Marks the image as changed (new cacheKey) for painters that cache it.
    if (m_modified && !m_image.isNull()) {
        m_image.bits();
        m_bits = nullptr;
        m_modified = false;
    }
    return m_image;
}

namespace {

// floor() for values already limited to the image's neighbourhood.
inline int floorToInt(double v)
{
    const int i = static_cast<int>(v);
    return i - (v < i);
}

} // namespace

void DrawingSurface::verticalRun(int px, int py1, int py2, uint32_t argb)
{
    uchar* const bits = pixels();
    for (int y = py1; y <= py2; ++y)
        reinterpret_cast<QRgb*>(bits + y * m_stride)[px] = argb;
}

uint32_t DrawingSurface::argbOf(RgbColor color)
{
    return toArgb(color);
}

void DrawingSurface::drawSegment(double px1, double py1, double px2, double py2, uint32_t argb)
{
    const int w = m_pixelWidth;
    const int h = m_pixelHeight;
    // NaN fails every comparison and takes the checked path.
    const bool inside = px1 >= 0 && py1 >= 0 && px2 >= 0 && py2 >= 0 && px1 < w && px2 < w
        && py1 < h && py2 < h;
    if (!inside) {
        if (!std::isfinite(px1) || !std::isfinite(py1) || !std::isfinite(px2)
            || !std::isfinite(py2))
            return;
        // A one-pixel margin keeps the clipped path on the same pixels as
        // the unclipped one where it enters the image.
        if (!clipSegment(px1, py1, px2, py2, -1.0, -1.0, w + 1.0, h + 1.0))
            return;
        // Far end points (1e30) lose all precision in the clip; keep the
        // loop below bounded whatever comes out of it.
        px1 = std::clamp(px1, -1.0, w + 1.0);
        px2 = std::clamp(px2, -1.0, w + 1.0);
        py1 = std::clamp(py1, -1.0, h + 1.0);
        py2 = std::clamp(py2, -1.0, h + 1.0);
    }

    int x = floorToInt(px1);
    int y = floorToInt(py1);
    const int xEnd = floorToInt(px2);
    const int yEnd = floorToInt(py2);

    uchar* const bits = pixels();
    const qsizetype stride = m_stride;
    auto put = [&](int px, int py) {
        if (static_cast<unsigned>(px) < static_cast<unsigned>(w)
            && static_cast<unsigned>(py) < static_cast<unsigned>(h))
            reinterpret_cast<QRgb*>(bits + py * stride)[px] = argb;
    };

    // Bresenham over the pixel grid, both ends included.
    const int dx = std::abs(xEnd - x);
    const int dy = -std::abs(yEnd - y);
    const int stepX = x < xEnd ? 1 : -1;
    const int stepY = y < yEnd ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        put(x, y);
        if (x == xEnd && y == yEnd)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += stepX;
        }
        if (e2 <= dx) {
            err += dx;
            y += stepY;
        }
    }
}

} // namespace audimera

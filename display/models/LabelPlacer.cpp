#include "display/models/LabelPlacer.h"

#include "display/models/Drawing.h"

#include <cmath>

namespace audimera {

LabelPlacer::LabelPlacer(DrawingSurface& surface, double size, std::vector<QRectF>& placed)
    : m_surface(surface), m_size(size),
      m_unitX(surface.Width() > 0 ? size * surface.pixelWidth() / surface.Width() : 0),
      m_unitY(surface.Height() > 0 ? size * surface.pixelHeight() / surface.Height() : 0), m_placed(placed)
{
    m_placed.clear();
}

QRectF LabelPlacer::boxOf(std::string_view text, float x, float y) const
{
    return LabelBox(m_surface, text, x, y, m_size);
}

QRectF LabelPlacer::grown(const QRectF& box) const
{
    return box.adjusted(-m_unitX, -m_unitY, m_unitX, m_unitY);
}

bool LabelPlacer::inside(const QRectF& box) const
{
    return !box.isEmpty() && box.left() >= 0 && box.top() >= 0 && box.right() <= m_surface.pixelWidth()
        && box.bottom() <= m_surface.pixelHeight();
}

bool LabelPlacer::fits(std::string_view text, float x, float y) const
{
    const QRectF box = LabelBox(m_surface, text, x, y, m_size);
    if (!inside(box))
        return false;
    const QRectF room = grown(box);
    for (const QRectF& placed : m_placed)
        if (room.intersects(placed))
            return false;
    return true;
}

bool LabelPlacer::place(std::string_view text, float x, float y, RgbColor color)
{
    if (!fits(text, x, y))
        return false;
    m_placed.push_back(LabelBox(m_surface, text, x, y, m_size));
    DrawLabel(m_surface, text, x, y, m_size, color);
    return true;
}

int LabelPlacer::rowStride(double pitchUser) const
{
    const double pitch = std::abs(m_surface.toPixelY(static_cast<float>(pitchUser)));
    // A cell is ten font units high; two more keep rows apart.
    const double need = 12 * m_unitY;
    int stride = 1;
    while (stride < 1024 && stride * pitch < need)
        stride *= 2;
    return stride;
}

double LabelPlacer::shiftToFit(std::string_view text, float x) const
{
    const QRectF box = LabelBox(m_surface, text, x, 0, m_size);
    return box.isEmpty() ? 0 : m_unitX - box.left();
}

float LabelPlacer::moveRight(float x, double devicePixels) const
{
    const double perUser = m_surface.toPixelX(1.0f);
    return perUser > 0 && devicePixels > 0 ? x + static_cast<float>(std::ceil(devicePixels) / perUser) : x;
}

} // namespace audimera

#include "display/models/LabelPlacer.h"

#include "display/models/Drawing.h"

#include <cmath>

namespace audimera {

LabelPlacer::LabelPlacer(DrawingSurface& surface, double size)
    : m_surface(surface), m_size(size),
      m_unitX(surface.Width() > 0 ? size * surface.pixelWidth() / surface.Width() : 0),
      m_unitY(surface.Height() > 0 ? size * surface.pixelHeight() / surface.Height() : 0)
{
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

float LabelPlacer::leftColumn(const std::vector<std::string>& texts, float preferred) const
{
    double shift = 0; // device pixels
    for (const std::string& text : texts) {
        const QRectF box = LabelBox(m_surface, text, preferred, 0, m_size);
        if (!box.isEmpty())
            shift = std::max(shift, m_unitX - box.left());
    }
    const double perUser = m_surface.toPixelX(1.0f);
    return perUser > 0 && shift > 0 ? preferred + static_cast<float>(std::ceil(shift) / perUser) : preferred;
}

bool LabelPlacer::rowFits(const std::vector<std::string>& texts, const std::vector<float>& xs, float y) const
{
    QRectF previous;
    for (size_t i = 0; i < texts.size() && i < xs.size(); ++i) {
        const QRectF box = LabelBox(m_surface, texts[i], xs[i], y, m_size);
        if (i > 0 && grown(box).intersects(previous))
            return false;
        previous = box;
    }
    return true;
}

} // namespace audimera

#include "display/models/Drawing.h"

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

// One straight stroke of the font, in font units within a cell (columns 0-6,
// rows 0-9, row 0 at the top), and the characters that use it.
struct Stroke {
    int col1, row1, col2, row2;
    std::string_view chars;
};

// Seven segments (1-7), the plus bar, and the extra bars of d B H z k.
constexpr Stroke kStrokes[] = {
    {2, 0, 5, 0, "02356789B"},        // top
    {5, 1, 5, 4, "01234789dBH"},      // upper right
    {5, 5, 5, 8, "013456789dBH"},     // lower right
    {2, 8, 5, 8, "0235689dBz"},       // bottom
    {1, 5, 1, 8, "0268d"},            // lower left
    {1, 1, 1, 4, "045689"},           // upper left
    {2, 4, 5, 4, "2345689-+dBHz"},    // middle
    {3, 2, 3, 7, "+"},                // plus bar
    {1, 0, 1, 9, "HBk"},              // left bar
    {5, 0, 5, 9, "dH"},               // right bar
    {1, 8, 6, 3, "z"},                // z diagonal
    {2, 5, 6, 3, "k"},                // k upper arm
    {2, 5, 6, 9, "k"},                // k lower arm
};

// The pen's cell left edge for each character, in font units from the
// label's centre; "." steps back a cell as DrawLabel does.
template <typename Visit>
void forEachCell(std::string_view text, Visit visit)
{
    double cell = -3.5 * static_cast<double>(text.size());
    for (const char c : text) {
        if (c == '.')
            cell -= 7;
        visit(c, cell);
        cell += 7;
    }
}

} // namespace

QRectF LabelBox(const DrawingSurface& surface, std::string_view text, float x, float y, double size)
{
    if (text.empty() || !(surface.Width() > 0) || !(surface.Height() > 0))
        return {};
    // Device pixels per font unit across and down.
    const double ux = size * surface.toPixelX(surface.ScaleWidth()) / surface.Width();
    const double uy = size * surface.toPixelY(surface.ScaleHeight()) / surface.Height();
    double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
    const auto cover = [&](double col1, double row1, double col2, double row2) {
        left = std::min({left, col1, col2});
        right = std::max({right, col1, col2});
        top = std::min({top, row1, row2});
        bottom = std::max({bottom, row1, row2});
    };
    forEachCell(text, [&](char c, double cell) {
        if (c == '.')
            cover(cell + 7, 8, cell + 7, 8);
        for (const Stroke& s : kStrokes)
            if (s.chars.find(c) != std::string_view::npos)
                cover(cell + s.col1, s.row1, cell + s.col2, s.row2);
    });
    if (left > right)
        return {};
    const double px = surface.toPixelX(x), py = surface.toPixelY(y);
    // The end pixels of a stroke lie at the floor of its ends: one more
    // device pixel to the right and below.
    return QRectF(QPointF(std::floor(px + left * ux), std::floor(py + top * uy)),
                  QPointF(std::floor(px + right * ux) + 1, std::floor(py + bottom * uy) + 1));
}

void DrawLabel(DrawingSurface& surface, std::string_view text, float x, float y, double size,
               RgbColor color)
{
    if (text.empty() || !(surface.Width() > 0) || !(surface.Height() > 0))
        return;
    if (auto* log = surface.labelLog())
        log->push_back({std::string(text), LabelBox(surface, text, x, y, size)});
    // Font unit in user units per axis, from the outer size, so a label keeps
    // its physical size whatever the user scale.
    const float sx = static_cast<float>(size * surface.ScaleWidth() / surface.Width());
    const float sy = static_cast<float>(size * surface.ScaleHeight() / surface.Height());
    const auto length = static_cast<float>(text.size());
    float cx = x - (length * sx / 2) * 7;
    for (const char c : text) {
        if (c == '.') {
            // No room of its own: step back a cell, dot at column 0, row 8 of
            // the cell the pen was in; the advance below restores the cell.
            cx -= 7 * sx;
            surface.setPoint(cx + 7 * sx, y + 8 * sy, color);
        }
        for (const Stroke& s : kStrokes) {
            if (s.chars.find(c) == std::string_view::npos)
                continue;
            surface.line(cx + s.col1 * sx, y + s.row1 * sy, cx + s.col2 * sx, y + s.row2 * sy,
                         color);
        }
        cx += 7 * sx;
    }
}

} // namespace audimera

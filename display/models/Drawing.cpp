#include "display/models/Drawing.h"

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

} // namespace

void DrawLabel(DrawingSurface& surface, std::string_view text, float x, float y, double size,
               RgbColor color)
{
    if (text.empty() || !(surface.Width() > 0) || !(surface.Height() > 0))
        return;
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

// Axis labels that never run together and never leave the picture.
//
// A plot hands its labels to one placer, most important first. A label is
// drawn only when its ink lies inside the image and at least one font unit
// clear of every label placed before it; otherwise it is left out, so a
// small or dense plot shows fewer labels rather than a smear. Plots thin
// their regular rows and columns first (rowStride, the frequency ranks),
// so what is left out here is only what collides across axes or at an
// edge.
//
// Units: x, y in the surface's user units; size is DrawLabel's font unit in
// container units. The placed boxes go to storage the caller keeps, so a
// plot redrawn at every measured point allocates nothing once it has been
// drawn. UI thread only (or any single thread).
#pragma once

#include "display/models/DrawingSurface.h"

#include <QRectF>

#include <algorithm>
#include <string_view>
#include <vector>

namespace audimera {

class LabelPlacer {
public:
    // placed: where the boxes of placed labels are kept; cleared here.
    LabelPlacer(DrawingSurface& surface, double size, std::vector<QRectF>& placed);

    // Draws text centred on x, cell tops at y, when it fits as above.
    bool place(std::string_view text, float x, float y, RgbColor color);

    // Whether text at (x, y) would be placed now (nothing drawn).
    bool fits(std::string_view text, float x, float y) const;

    // For a row of labels every pitchUser user units down the plot: the
    // smallest step of 1, 2, 4, 8... rows that leaves two font units between
    // labels one cell high.
    int rowStride(double pitchUser) const;

    // The x of a column of labels that wants to be centred at preferred:
    // moved right just as far as the widest of textAt(0..count-1) needs
    // for its ink to start one font unit inside the left edge (minus signs
    // were cut).
    template <typename TextAt>
    float leftColumn(int count, TextAt textAt, float preferred) const
    {
        double shift = 0; // device pixels
        for (int i = 0; i < count; ++i)
            shift = std::max(shift, shiftToFit(textAt(i), preferred));
        return moveRight(preferred, shift);
    }

    // Whether count labels in one row at y, labelAt(i) giving the text and
    // x of the i-th from the left, leave a font unit between neighbours.
    template <typename LabelAt>
    bool rowFits(int count, LabelAt labelAt, float y) const
    {
        QRectF previous;
        for (int i = 0; i < count; ++i) {
            const auto [text, x] = labelAt(i);
            const QRectF box = boxOf(text, x, y);
            if (i > 0 && grown(box).intersects(previous))
                return false;
            previous = box;
        }
        return true;
    }

private:
    QRectF boxOf(std::string_view text, float x, float y) const;
    double shiftToFit(std::string_view text, float x) const;
    float moveRight(float x, double devicePixels) const;
    QRectF grown(const QRectF& box) const;
    bool inside(const QRectF& box) const;

    DrawingSurface& m_surface;
    double m_size;
    double m_unitX; // device pixels per font unit
    double m_unitY;
    std::vector<QRectF>& m_placed;
};

} // namespace audimera

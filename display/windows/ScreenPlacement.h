// Keeps top-level windows wholly inside the screen area that windows may
// use (QScreen::availableGeometry: the screen less panels and docks), so no
// window opens partly below the screen's edge, and a kept geometry from
// another monitor or a larger screen comes back into view. Pixels are
// device-independent, in screen coordinates. UI thread only.
#pragma once

#include <QRect>

class QWidget;

namespace audimera {

// The frame (title bar and borders included) moved, and shrunk where it is
// larger, so that it lies inside area: a frame already inside is returned
// as it is; otherwise the least movement that brings it inside.
QRect fitInside(const QRect& frame, const QRect& area);

// Moves (and where needed shrinks) the top-level window so that its frame
// lies inside the available area of the screen it is on (the one under its
// centre, else its own, else the primary). Before the window was first shown
// the window manager's frame is not known; a title bar of the style's height
// is assumed then. Does nothing for a window already inside.
void keepInsideScreen(QWidget& window);

} // namespace audimera

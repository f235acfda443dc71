// A retained bitmap that the plots draw on, addressed in user units.
//
// The surface has an outer size (Width x Height) in the units of its
// container, a user coordinate system (ScaleWidth x ScaleHeight, origin at
// the top-left corner, y growing downward), a background colour and a pen
// position. It needs no widget: a window paints image(), the headless
// command saves it.
//
// Outer size to pixels: unitsPerPixel container units make one logical
// pixel (15 for twips at 96 dpi, 1 for plain pixels). The image itself has
// logical size x devicePixelRatio device pixels and carries that ratio, so
// a window on a high-density screen paints it 1:1. Lines and points are one
// device pixel wide; labels drawn from Width/Height keep their physical
// size whatever the ratio.
//
// Rasterisation is aliased (no antialiasing): every pixel a line touches
// gets exactly the line's colour. Plot lines are one device pixel wide and
// the traces are told apart by colour, so blended edges would only muddy
// the colours; exact pixels also keep redraws of large traces fast and the
// output identical on every platform.
//
// User coordinate (x, y) falls in device pixel
// (floor(x * imageWidth / ScaleWidth), floor(y * imageHeight / ScaleHeight)).
// Anything outside the image is clipped; coordinates far outside (or not
// finite) are harmless.
//
// UI thread only (or any single thread when used headless).
#pragma once

#include <algorithm>

#include "engine/RgbColor.h"

#include <QImage>
#include <QPointF>

#include <QRectF>

class QPainter;

#include <cstdint>
#include <string>
#include <vector>

namespace audimera {

class DrawingSurface {
public:
    // unitsPerPixel: container units per logical pixel (15 = twips, 1 = pixels).
    explicit DrawingSurface(double unitsPerPixel = 1.0);

    double unitsPerPixel() const { return m_unitsPerPixel; }

    // Outer size in container units. Changing it (or the device pixel ratio)
    // re-creates the image filled with the background colour; owners redraw
    // after a resize. The user extents stay as they were.
    void setSize(double width, double height);
    void setWidth(double width) { setSize(width, m_height); }
    void setHeight(double height) { setSize(m_width, height); }
    double Width() const { return m_width; }
    double Height() const { return m_height; }

    // Device pixels per logical pixel (QWidget::devicePixelRatioF() of the
    // window showing the surface). Values below 1 count as 1.
    void setDevicePixelRatio(double ratio);
    double devicePixelRatio() const { return m_ratio; }

    // User extents of the drawable area (1 x 1 until set). Changing them
    // re-scales the coordinate system without touching the image.
    // Non-positive values make every drawing operation a no-op until set
    // again.
    void setScaleWidth(float scaleWidth);
    void setScaleHeight(float scaleHeight);
    float ScaleWidth() const { return m_scaleWidth; }
    float ScaleHeight() const { return m_scaleHeight; }

    void setBackColor(RgbColor color) { m_backColor = color; }
    RgbColor backColor() const { return m_backColor; }

    // Fills the image with the background colour and puts the pen at (0, 0).
    void clear();

    // A straight segment, end points included; the pen ends at (x2, y2).
    void line(float x1, float y1, float x2, float y2, RgbColor color);

    // A segment from the pen to (x, y); the pen ends there.
    void lineTo(float x, float y, RgbColor color);

    // Colours the one device pixel holding (x, y); the pen moves there.
    void setPoint(float x, float y, RgbColor color);

    // lineTo(x, y) for the count points pointAt(0..count-1), each returning
    // a std::pair<float, float>: the same pixels, but the segments that stay
    // within one pixel column are merged into a single vertical run, which
    // makes a curve of many more points than columns cheap to draw.
    template <typename PointAt>
    void polylineTo(int count, PointAt pointAt, RgbColor color);

    // Fills the area between the polyline through points (user units, x
    // ascending) and the horizontal line at user y baseY with color: every
    // device pixel whose centre lies between the two, in the columns whose
    // centres lie within the polyline's span. A curve drawn over the area
    // afterwards keeps all its pixels, so a curve filled under with the
    // background hides whatever was drawn below it. The pen stays where it
    // is. Recorded as one polygon (the polyline, then the base line back).
    void fillUnder(const std::vector<QPointF>& points, float baseY, RgbColor color);

    // Draws image stretched over the user rectangle (x1, y1)-(x2, y2): every
    // device pixel whose centre lies inside takes the colour of the image
    // pixel under that centre (nearest, never blended). Recorded as the
    // image over the exact rectangle.
    void drawImage(float x1, float y1, float x2, float y2, const QImage& image);

    // Moves the pen without drawing.
    void moveTo(float x, float y);
    float currentX() const { return m_penX; }
    float currentY() const { return m_penY; }

    // The retained image (Format_RGB32, carrying devicePixelRatio()). A
    // copy taken from it keeps its pixels; later drawing does not show in it.
    const QImage& image() const;

    // The image's size in device pixels and in logical pixels.
    int pixelWidth() const { return m_pixelWidth; }
    int pixelHeight() const { return m_pixelHeight; }
    int logicalPixelWidth() const { return m_logicalWidth; }
    int logicalPixelHeight() const { return m_logicalHeight; }

    // The colour at a device pixel (as RgbColor), for tests and tools.
    // Outside the image: 0xffffffff.
    uint32_t pixelColor(int px, int py) const;

    // What was drawn as lines, for vector output (SVG): every segment and
    // point since the last clear(), in device pixels, joined into strokes of
    // one colour. Coordinates keep their fractions (the exact mapping
    // below, not the pixels the raster gives them), so a curve stays smooth
    // when the vector picture is zoomed; a point is a one-pixel square
    // centred on its exact place. Off (null) by default, when it costs one test per
    // primitive.
    //
    // Filled areas and images are recorded in the same list, in the order
    // drawn, so a later one covers what lies under it as on the raster:
    // kind Fill is the polygon through points filled with color, kind Image
    // is image stretched over rect (device pixels).
    struct Stroke {
        enum class Kind { Line, Fill, Image };
        RgbColor color;
        std::vector<QPointF> points; // one point: a single pixel
        Kind kind = Kind::Line;
        QImage image;
        QRectF rect;
    };
    void setRecording(std::vector<Stroke>* strokes) { m_recording = strokes; }

    // Paints a recording onto painter, one unit to a device pixel: lines
    // one unit wide with square caps (covering their end pixels as the
    // raster does), a point as a one-unit square centred on it, fills and
    // images as recorded. For SVG output.
    static void paintRecording(QPainter& painter, const std::vector<Stroke>& strokes);

    // The labels drawn since the last clear(), for tests and tools: each
    // label's text and the device-pixel box its ink covers. Off (null) by
    // default. DrawLabel writes to it.
    struct Label {
        std::string text;
        QRectF box;
    };
    void setLabelLog(std::vector<Label>* labels) { m_labelLog = labels; }
    std::vector<Label>* labelLog() const { return m_labelLog; }

    // Device pixel column / row of a user coordinate (the mapping above,
    // before clipping).
    double toPixelX(float x) const;
    double toPixelY(float y) const;

private:
    void rebuildImage();
    void updateFactors();
    uchar* pixels();
    void plot(int px, int py, uint32_t argb);
    void drawSegment(double px1, double py1, double px2, double py2, uint32_t argb);
    void verticalRun(int px, int py1, int py2, uint32_t argb);
    void recordSegment(double px1, double py1, double px2, double py2, RgbColor color);
    void recordPoint(double px, double py, RgbColor color);
    static uint32_t argbOf(RgbColor color);
    static int pixelFloor(double v)
    {
        const int i = static_cast<int>(v);
        return i - (v < i);
    }

    double m_unitsPerPixel;
    double m_width = 0;
    double m_height = 0;
    double m_ratio = 1.0;
    int m_logicalWidth = 0;
    int m_logicalHeight = 0;
    float m_scaleWidth = 1;
    float m_scaleHeight = 1;
    double m_kx = 0; // device pixels per user unit
    double m_ky = 0;
    RgbColor m_backColor = rgbColor(255, 255, 255);
    float m_penX = 0;
    float m_penY = 0;
    int m_pixelWidth = 0;
    int m_pixelHeight = 0;
    mutable QImage m_image;
    mutable uchar* m_bits = nullptr; // m_image's pixels while not shared
    qsizetype m_stride = 0;
    mutable bool m_modified = false;
    std::vector<Stroke>* m_recording = nullptr;
    std::vector<Label>* m_labelLog = nullptr;
};

template <typename PointAt>
void DrawingSurface::polylineTo(int count, PointAt pointAt, RgbColor color)
{
    if (count <= 0)
        return;
    if (m_kx <= 0) {
        const auto [x, y] = pointAt(count - 1);
        moveTo(x, y);
        return;
    }
    const uint32_t argb = argbOf(color);
    int runX = -1, runLow = 0, runHigh = -1; // the vertical run being gathered
    double px1 = m_penX * m_kx, py1 = m_penY * m_ky;
    for (int k = 0; k < count; ++k) {
        const auto [x, y] = pointAt(k);
        const double px2 = x * m_kx, py2 = y * m_ky;
        if (m_recording)
            recordSegment(px1, py1, px2, py2, color);
        // A segment inside the image whose ends share a column is exactly
        // the column's pixels between its two rows.
        const bool oneColumn = px1 >= 0 && py1 >= 0 && px2 >= 0 && py2 >= 0 && px1 < m_pixelWidth
            && px2 < m_pixelWidth && py1 < m_pixelHeight && py2 < m_pixelHeight
            && pixelFloor(px1) == pixelFloor(px2);
        if (oneColumn) {
            const int column = pixelFloor(px1);
            const int a = pixelFloor(py1), b = pixelFloor(py2);
            if (column != runX) {
                if (runX >= 0)
                    verticalRun(runX, runLow, runHigh, argb);
                runX = column;
                runLow = a;
                runHigh = a;
            }
            runLow = std::min({runLow, a, b});
            runHigh = std::max({runHigh, a, b});
        } else {
            if (runX >= 0)
                verticalRun(runX, runLow, runHigh, argb);
            runX = -1;
            drawSegment(px1, py1, px2, py2, argb);
        }
        px1 = px2;
        py1 = py2;
        m_penX = x;
        m_penY = y;
    }
    if (runX >= 0)
        verticalRun(runX, runLow, runHigh, argb);
}

} // namespace audimera

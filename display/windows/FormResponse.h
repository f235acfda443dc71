// The frequency response window: draws the measurement document's traces,
// with the document's plot settings, on Picture1, a retained surface
// covering the whole inner area. It owns no data: the document does, and
// the main window asks for a redraw (TraceResponse) after every change.
// Closing it only hides it. UI thread only.
#pragma once

#include "display/windows/FormWindow.h"

#include "common/Result.h"
#include "display/models/DrawingSurface.h"
#include "engine/MeasurementDocument.h"
#include "display/models/ResponsePlot.h"

#include <QWidget>

#include <string>

namespace audimera {

class FormResponse : public FormWindow {
    Q_OBJECT

public:
    // The first inner size, in twips (792 x 211 pixels at 96 dpi).
    static constexpr int InitialWidthTwips = 11880;
    static constexpr int InitialHeightTwips = 3165;

    // document: what the window shows; it must outlive the window. The
    // window starts with its initial size, placed fully on its screen, and
    // hidden.
    explicit FormResponse(const MeasurementDocument& document, QWidget* parent = nullptr);

    // Clears Picture1 and draws grid, labels and the document's traces with
    // its plot settings as they are now.
    void TraceResponse();

    // What the window shows, written as a picture of its size: PNG scale
    // times as wide and high (as on a screen of that density), or SVG. The
    // error (kind File) is the message for the user ("Error saving file
    // '...' : ...").
    // legend: with the traces' names in their colours and axis titles.
    Status savePng(const std::string& path, double scale, bool legend = false) const;
    Status saveSvg(const std::string& path, bool legend = false) const;

signals:
    // The context menu's "Fit Range to Traces" (MenuEntryFitRange) was chosen.
    void fitRangeRequested();

public:

    const TraceStore& store() const { return m_document.traces(); }
    const DrawingSurface& picture() const { return m_picture; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Gives Picture1 the whole inner area at the current pixel ratio.
    void fitPicture();

    const MeasurementDocument& m_document;
    ResponsePlot m_plot;
    DrawingSurface m_picture;
};

} // namespace audimera

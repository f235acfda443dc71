// The frequency response window: owns the trace store and shows the plot
// on Picture1, a retained surface covering the whole inner area. It offers
// the response half of the engine's display operations; the main window
// routes them here. Closing it only hides it. UI thread only.
#pragma once

#include "FormWindow.h"

#include "DrawingSurface.h"
#include "Host.h"
#include "ResponsePlot.h"
#include "TraceStore.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class FormResponse : public FormWindow {
    Q_OBJECT

public:
    // The first inner size, in twips (792 x 211 pixels at 96 dpi).
    static constexpr int InitialWidthTwips = 11880;
    static constexpr int InitialHeightTwips = 3165;

    // host shows the message of a refused AddTrace. The window starts with
    // its initial size, placed fully on its screen, and hidden.
    explicit FormResponse(Host& host, QWidget* parent = nullptr);

    // The display operations of a measurement and of the main window.
    bool AddTrace();
    void AddPoint(double Frequency, double dBA);
    void TraceResponse();
    int GetTraceCount() const;
    void ClearAllTraces();
    int32_t GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const;

    // Where TraceResponse reads ComboDBRange and Smooth from, at every
    // redraw. Without a source the values given to setSettings are used.
    void setSettingsSource(std::function<ResponseSettings()> source);
    void setSettings(const ResponseSettings& settings);



    const TraceStore& store() const { return m_store; }
    const DrawingSurface& picture() const { return m_picture; }


protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Gives Picture1 the whole inner area at the current pixel ratio.
    void fitPicture();
    ResponseSettings currentSettings() const;

    Host& m_host;
    TraceStore m_store;
    ResponsePlot m_plot;
    DrawingSurface m_picture;
    ResponseSettings m_settings;
    std::function<ResponseSettings()> m_settingsSource;
};

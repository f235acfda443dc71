// The help window ("Help"): one text browser, WebBrowser1, covering the
// whole window and showing the help page that ships inside the program
// (HelpPage). It lives until the program ends: closing it only hides it.
// UI thread only.
#pragma once

#include "display/windows/FormWindow.h"

#include <QWidget>

class QTextBrowser;

namespace audimera {

class FormHelp : public FormWindow {
    Q_OBJECT

public:
    // The first size, in pixels.
    static constexpr int InitialWidth = 640;
    static constexpr int InitialHeight = 560;

    // The window starts with its first size, placed fully on its screen,
    // hidden, with the help page loaded at its top.
    explicit FormHelp(QWidget* parent = nullptr);

    // WebBrowser1, the browser showing the page.
    QTextBrowser* browser() const { return m_browser; }

    // Shows the window (again, where the reader left the page) and raises
    // it: the help menu entry's action. Returns at once.
    void showHelp();



protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Gives the browser the window's whole inner area.
    void fitBrowser();

    QTextBrowser* m_browser;
};

} // namespace audimera

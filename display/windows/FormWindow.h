// What the program's secondary windows (response, waveform, FFT, help) have
// in common: they live until the program ends, so closing one only hides it
// and tells the main window (which unticks the window's box), and each is
// kept on its screen.
#pragma once

#include <QWidget>

namespace audimera {

class FormWindow : public QWidget {
    Q_OBJECT
public:
    explicit FormWindow(QWidget* parent = nullptr);

    // Moves the window back inside its screen's available area where its
    // frame sticks out (keepInsideScreen); done again each time it is shown.
    void placeOnScreen();

    // At shut-down: from now on a close closes.
    void setClosingAllowed(bool allowed) { m_closingAllowed = allowed; }

signals:
    // The user closed the window; it is only hidden.
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool m_closingAllowed = false;
};

} // namespace audimera

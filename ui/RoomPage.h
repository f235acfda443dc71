// The Log Sweep window's "Room" tab: the room parameters of the impulse
// response shown (RoomAcoustics), broadband and per octave or third-octave
// band, and the decay curve of the band selected.
//
// Controls (objectName, each with a tool tip): ComboRoomBands (octave or
// third-octave bands), TableRoom (one row per band, broadband first: EDT,
// T20, T30, C50, C80, D50, Ts, the T20 and T30 fits' r, PNR; a value that
// cannot be trusted is greyed, marked "*" and says why in its tool tip, a
// value that could not be had is "-"), ViewLogDecay (the selected band's
// Schroeder curve with its fit lines and truncation point) and LabelRoomNote
// (why there are no parameters, when there are none).
//
// The page shows what it is given; the window analyses (through the
// session) and gives it the results. UI thread only.
#pragma once

#include "signal/RoomAcoustics.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QTableWidget;

namespace audimera {

class LogSweepView;

class RoomPage : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* Columns[] = {"Band (Hz)", "EDT (s)",  "T20 (s)",  "T30 (s)",
                                              "C50 (dB)", "C80 (dB)", "D50",      "Ts (ms)",
                                              "r (T20)",  "r (T30)",  "PNR (dB)"};

    explicit RoomPage(QWidget* parent = nullptr);

    // The bands chosen.
    RoomSettings settings() const;
    void setBands(RoomSettings::Bands bands);

    // Shows room (nullptr: none) or, without it, note (why there is none;
    // empty: nothing to analyse).
    void showRoom(const RoomResults* room, const QString& note);
    const RoomBand* selectedBand() const;

    LogSweepView& decayView() const { return *m_decay; }
    QTableWidget& table() const { return *m_table; }
    // The read-out for the mouse at user (x, y) of the decay view.
    QString readout(double x, double y) const;

signals:
    // The band choice changed: the window analyses again.
    void bandsChanged();
    void hovered(const QString& readout);
    void left();

private:
    QComboBox* m_bands = nullptr;
    QTableWidget* m_table = nullptr;
    LogSweepView* m_decay = nullptr;
    QLabel* m_note = nullptr;
    std::vector<RoomBand> m_shown;
};

} // namespace audimera

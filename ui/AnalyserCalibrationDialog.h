// The sound level meter's "Calibrate..." dialog (objectName
// DialogAnalyserCalibrate): the record device it calibrates
// (LabelCalibrationDevice), the calibrator's level (ComboCalibratorLevel:
// 94.0 or 114.0 dB SPL, or any value typed, 60 to 150), or instead the
// microphone's sensitivity (CheckCalibrationSensitivity "Use the file's
// sensitivity instead of a calibrator", SpinCalibrationDbfsPerPascal: the
// card's input level of 1 Pa in dBFS), the sensitivity factor the ticked
// correction file states (LabelCalibrationSensitivity) and OK ("Measure", or
// "Save" with the sensitivity) and Cancel.
//
// It only asks: the window measures (MeasurementSession::measureCalibration)
// or computes (SplCalibration::offsetFromSensitivity) when it is accepted.
// Shown window-modal with open(), so the event loop and the tests go on.
//
// UI thread only.
#pragma once

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QDoubleSpinBox;
class QLabel;

namespace audimera {

class AnalyserCalibrationDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr double LowestDb = 60, HighestDb = 150;

    struct Request {
        bool sensitivity = false;
        double referenceDb = 94.0;   // the calibrator's level, dB SPL
        double dbfsPerPascal = -40;  // the card's input level of 1 Pa
    };

    explicit AnalyserCalibrationDialog(QWidget* parent = nullptr);

    // Before it is shown: the device's description, what the correction
    // files state ("Sens Factor -0.7 dB", or why nothing), and a level in
    // dBFS per pascal the file states, put into the box while it is untouched.
    void prepare(const QString& device, const QString& sensitivityNote, std::optional<double> fileDbfsPerPascal);

    // What the user asked; nullopt while the calibrator's level is not a
    // number from LowestDb to HighestDb.
    std::optional<Request> request() const;

private:
    void refreshState();

    QLabel* m_device = nullptr;
    QComboBox* m_level = nullptr;
    QCheckBox* m_useSensitivity = nullptr;
    QDoubleSpinBox* m_dbfsPerPascal = nullptr;
    QLabel* m_sensitivity = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    bool m_boxTouched = false;
};

} // namespace audimera

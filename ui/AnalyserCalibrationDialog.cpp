#include "ui/AnalyserCalibrationDialog.h"
#include "ui/FormWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace audimera {

using forms::named;

AnalyserCalibrationDialog::AnalyserCalibrationDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DialogAnalyserCalibrate"));
    setWindowTitle(QStringLiteral("Calibrate the sound level meter"));
    setWindowModality(Qt::WindowModal);

    m_device = named(new QLabel, "LabelCalibrationDevice", "The record device the calibration is kept for");
    m_level = named(new QComboBox, "ComboCalibratorLevel",
                    "The level the calibrator makes, in dB SPL (94.0 or 114.0, or type its own value)");
    m_level->setEditable(true);
    m_level->addItem(forms::number(94.0, 1));
    m_level->addItem(forms::number(114.0, 1));
    m_useSensitivity = named(new QCheckBox(QStringLiteral("Use the file's sensitivity instead of a calibrator")),
                             "CheckCalibrationSensitivity",
                             "Calibrate from the microphone's stated sensitivity and the card's input level rather "
                             "than measure a calibrator: dB SPL = dBFS + 93.98 - (dBFS per pascal)");
    m_dbfsPerPascal = named(forms::spinBox(-120, 20, -40, 1, " dBFS/Pa"), "SpinCalibrationDbfsPerPascal",
                            "The level the card reads for 1 Pa (94 dB SPL) at the microphone, in dBFS: the "
                            "microphone's sensitivity with the card's input gain");
    m_sensitivity = named(new QLabel, "LabelCalibrationSensitivity",
                          "The sensitivity factor stated by the correction files ticked in the Log Sweep window");
    m_sensitivity->setWordWrap(true);
    auto* how = new QLabel(QStringLiteral("Put the calibrator on the microphone and switch it on, then Measure: "
                                          "its 1 kHz tone is measured for 3 s."));
    how->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Record device:"), m_device);
    form->addRow(QStringLiteral("Calibrator level (dB SPL):"), m_level);
    form->addRow(m_useSensitivity);
    form->addRow(QStringLiteral("Card's level of 1 Pa:"), m_dbfsPerPascal);
    form->addRow(QStringLiteral("Microphone file:"), m_sensitivity);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ButtonCalibrationOk"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, [this] {
        if (request())
            accept();
    });
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_useSensitivity, &QCheckBox::toggled, this, [this] { refreshState(); });
    connect(m_level, &QComboBox::editTextChanged, this, [this] { refreshState(); });
    connect(m_dbfsPerPascal, &QDoubleSpinBox::valueChanged, this, [this] { m_boxTouched = true; });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(how);
    layout->addLayout(form);
    layout->addWidget(m_buttons);
    refreshState();
}

void AnalyserCalibrationDialog::prepare(const QString& device, const QString& sensitivityNote,
                                        std::optional<double> fileDbfsPerPascal)
{
    m_device->setText(device);
    m_sensitivity->setText(sensitivityNote);
    if (fileDbfsPerPascal && !m_boxTouched) {
        m_dbfsPerPascal->setValue(*fileDbfsPerPascal);
        m_boxTouched = false;
    }
    refreshState();
}

std::optional<AnalyserCalibrationDialog::Request> AnalyserCalibrationDialog::request() const
{
    Request r;
    r.sensitivity = m_useSensitivity->isChecked();
    r.dbfsPerPascal = m_dbfsPerPascal->value();
    bool ok = false;
    QString text = m_level->currentText().trimmed();
    if (text.endsWith(QLatin1String("dB"), Qt::CaseInsensitive))
        text = text.chopped(2).trimmed();
    r.referenceDb = QLocale().toDouble(text, &ok);
    if (!ok)
        r.referenceDb = QLocale::c().toDouble(text, &ok);
    if (!r.sensitivity && (!ok || r.referenceDb < LowestDb || r.referenceDb > HighestDb))
        return std::nullopt;
    return r;
}

void AnalyserCalibrationDialog::refreshState()
{
    const bool sensitivity = m_useSensitivity->isChecked();
    m_level->setEnabled(!sensitivity);
    m_dbfsPerPascal->setEnabled(sensitivity);
    QPushButton* ok = m_buttons->button(QDialogButtonBox::Ok);
    ok->setText(sensitivity ? QStringLiteral("Save") : QStringLiteral("Measure"));
    ok->setEnabled(request().has_value());
}

} // namespace audimera

#include "ui/QtCalibrationStore.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <cmath>

namespace audimera {

namespace {

QSettings programSettings()
{
    return QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera"));
}

QString keyOf(const std::string& device)
{
    return QString::fromLatin1(QByteArray::fromStdString(device).toPercentEncoding());
}

// The calibration in the settings' current group (one device's), if whole.
std::optional<SplCalibration> read(QSettings& settings)
{
    bool ok = false;
    SplCalibration c;
    c.offsetDb = settings.value(QStringLiteral("offsetDb")).toDouble(&ok);
    if (!ok || !std::isfinite(c.offsetDb))
        return std::nullopt;
    c.device = settings.value(QStringLiteral("device")).toString().toStdString();
    c.description = settings.value(QStringLiteral("description")).toString().toStdString();
    c.source = settings.value(QStringLiteral("source")).toString() == QLatin1String("sensitivity")
        ? SplCalibration::Source::Sensitivity
        : SplCalibration::Source::Calibrator;
    c.referenceDb = settings.value(QStringLiteral("referenceDb"), 94.0).toDouble();
    c.dbfsPerPascal = settings.value(QStringLiteral("dbfsPerPascal"), 0.0).toDouble();
    c.madeAt = settings.value(QStringLiteral("madeAt")).toString().toStdString();
    return c;
}

} // namespace

std::optional<SplCalibration> QtCalibrationStore::load(const std::string& device)
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    settings.beginGroup(keyOf(device));
    std::optional<SplCalibration> c = read(settings);
    // Never another device's, whatever the key held.
    if (c && c->device != device)
        c.reset();
    return c;
}

void QtCalibrationStore::save(const SplCalibration& c)
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    settings.beginGroup(keyOf(c.device));
    settings.setValue(QStringLiteral("device"), QString::fromStdString(c.device));
    settings.setValue(QStringLiteral("description"), QString::fromStdString(c.description));
    settings.setValue(QStringLiteral("offsetDb"), c.offsetDb);
    settings.setValue(QStringLiteral("source"), c.source == SplCalibration::Source::Sensitivity
                                                    ? QStringLiteral("sensitivity")
                                                    : QStringLiteral("calibrator"));
    settings.setValue(QStringLiteral("referenceDb"), c.referenceDb);
    settings.setValue(QStringLiteral("dbfsPerPascal"), c.dbfsPerPascal);
    settings.setValue(QStringLiteral("madeAt"), QString::fromStdString(c.madeAt));
}

void QtCalibrationStore::remove(const std::string& device)
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    settings.remove(keyOf(device));
}

std::vector<SplCalibration> QtCalibrationStore::all()
{
    std::vector<SplCalibration> out;
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    for (const QString& key : settings.childGroups()) {
        settings.beginGroup(key);
        if (std::optional<SplCalibration> c = read(settings))
            out.push_back(std::move(*c));
        settings.endGroup();
    }
    return out;
}

} // namespace audimera

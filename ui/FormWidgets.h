// Small helpers the Log Sweep window's forms build their controls with.
#pragma once

#include <QDoubleSpinBox>
#include <QLocale>
#include <QString>

namespace audimera::forms {

// value with decimals decimals, as the user's locale writes it.
inline QString number(double value, int decimals)
{
    return QLocale().toString(value, 'f', decimals);
}

// widget with its object name (what tests and settings find it by) and
// tool tip.
template <typename W>
W* named(W* widget, const char* objectName, const char* toolTip)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setToolTip(QString::fromUtf8(toolTip));
    return widget;
}

inline QDoubleSpinBox* spinBox(double low, double high, double value, int decimals, const char* suffix)
{
    auto* box = new QDoubleSpinBox;
    box->setRange(low, high);
    box->setDecimals(decimals);
    box->setValue(value);
    box->setSuffix(QString::fromUtf8(suffix));
    return box;
}

} // namespace audimera::forms

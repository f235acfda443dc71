#include "ui/QtPanel.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QtDebug>

#include <cmath>

namespace audimera {

namespace {

QString qstr(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

QtPanel::QtPanel(QWidget& root, QLabel* statusLine) : m_root(root), m_statusLine(statusLine)
{
}

void QtPanel::setStatusLine(QLabel* statusLine)
{
    m_statusLine = statusLine;
}

void QtPanel::warnOnce(const QString& key, const QString& text) const
{
    if (m_warned.contains(key))
        return;
    m_warned.insert(key);
    qWarning().noquote() << text;
}

void QtPanel::wrongKind(std::string_view name, const char* operation) const
{
    const QString n = qstr(name);
    warnOnce(n + QLatin1Char('/') + QLatin1String(operation),
             QStringLiteral("Panel: the control '%1' has no %2").arg(n, QLatin1String(operation)));
}

QObject* QtPanel::control(std::string_view name) const
{
    const QString key = qstr(name);
    const auto it = m_cache.constFind(key);
    if (it != m_cache.constEnd() && it.value())
        return it.value().data();
    QObject* found = m_root.findChild<QObject*>(key);
    // Every name the window and the presenter use is a constant of
    // ControlNames.h that the window builds, so a name without a control is
    // a programming error. It ends the program here, in every build type:
    // carrying on with an empty control would leave a sweep or the signal
    // running on a state the user cannot see, and an exception would be
    // caught by the window's handlers and shown as if a measurement had
    // failed. qFatal writes the name through Qt's message handler first.
    if (!found)
        qFatal("Panel: no control named '%s'", key.toUtf8().constData());
    m_cache.insert(key, found);
    return found;
}

QString QtPanel::toMnemonicText(const QString& caption)
{
    QString s = caption;
    s.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return s;
}

QString QtPanel::fromMnemonicText(const QString& text)
{
    QString s;
    s.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                s += QLatin1Char('&');
                ++i;
            }
            continue; // a mnemonic marker
        }
        s += text[i];
    }
    return s;
}

// ---------------------------------------------------------------- texts

std::string QtPanel::text(std::string_view name) const
{
    QObject* o = control(name);
    if (auto* edit = qobject_cast<QLineEdit*>(o))
        return edit->text().toStdString();
    if (auto* label = qobject_cast<QLabel*>(o))
        return label->text().toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(o))
        return combo->currentText().toStdString();
    wrongKind(name, "text");
    return {};
}

void QtPanel::setText(std::string_view name, std::string_view text)
{
    QObject* o = control(name);
    if (auto* edit = qobject_cast<QLineEdit*>(o)) {
        const QSignalBlocker block(edit);
        edit->setText(qstr(text));
    } else if (auto* label = qobject_cast<QLabel*>(o)) {
        label->setText(qstr(text));
    } else {
        wrongKind(name, "text");
    }
}

std::string QtPanel::caption(std::string_view name) const
{
    QObject* o = control(name);
    if (auto* label = qobject_cast<QLabel*>(o))
        return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(o))
        return fromMnemonicText(button->text()).toStdString();
    if (auto* group = qobject_cast<QGroupBox*>(o))
        return fromMnemonicText(group->title()).toStdString();
    if (auto* menu = qobject_cast<QMenu*>(o))
        return menu->title().toStdString();
    if (auto* action = qobject_cast<QAction*>(o))
        return action->text().toStdString();
    wrongKind(name, "caption");
    return {};
}

void QtPanel::setCaption(std::string_view name, std::string_view caption)
{
    QObject* o = control(name);
    const QString text = qstr(caption);
    if (auto* label = qobject_cast<QLabel*>(o))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(o))
        button->setText(toMnemonicText(text));
    else if (auto* group = qobject_cast<QGroupBox*>(o))
        group->setTitle(toMnemonicText(text));
    else if (auto* menu = qobject_cast<QMenu*>(o))
        menu->setTitle(text);
    else if (auto* action = qobject_cast<QAction*>(o))
        action->setText(text);
    else
        wrongKind(name, "caption");
}

// ---------------------------------------------------------------- values

int QtPanel::value(std::string_view name) const
{
    QObject* o = control(name);
    // While the user drags, the position is ahead of the value: the scroll
    // handler must see where the thumb is.
    if (auto* slider = qobject_cast<QAbstractSlider*>(o))
        return slider->sliderPosition();
    if (auto* check = qobject_cast<QCheckBox*>(o)) {
        switch (check->checkState()) {
        case Qt::Unchecked:
            return 0;
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        }
        return 0;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(o))
        return button->isChecked() ? 1 : 0;
    if (auto* action = qobject_cast<QAction*>(o))
        return action->isChecked() ? 1 : 0;
    if (auto* combo = qobject_cast<QComboBox*>(o))
        return combo->currentIndex();
    wrongKind(name, "value");
    return 0;
}

void QtPanel::setValue(std::string_view name, int value)
{
    QObject* o = control(name);
    if (auto* slider = qobject_cast<QAbstractSlider*>(o)) {
        const QSignalBlocker block(slider);
        slider->setValue(value);
    } else if (auto* check = qobject_cast<QCheckBox*>(o)) {
        const QSignalBlocker block(check);
        if (value == 2)
            check->setTristate(true);
        check->setCheckState(value == 0 ? Qt::Unchecked : (value == 2 ? Qt::PartiallyChecked : Qt::Checked));
    } else if (auto* button = qobject_cast<QAbstractButton*>(o)) {
        const QSignalBlocker block(button);
        if (value != 0) {
            button->setChecked(true);
        } else if (button->isChecked()) {
            // An exclusive group keeps its checked button; the engine may
            // clear a whole array, as the control table allows.
            QButtonGroup* group = button->group();
            const bool exclusive = group && group->exclusive();
            const bool autoExclusive = button->autoExclusive();
            if (exclusive)
                group->setExclusive(false);
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(autoExclusive);
            if (exclusive)
                group->setExclusive(true);
        }
    } else if (auto* action = qobject_cast<QAction*>(o)) {
        const QSignalBlocker block(action);
        action->setChecked(value != 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(o)) {
        const QSignalBlocker block(combo);
        combo->setCurrentIndex(value);
    } else {
        wrongKind(name, "value");
    }
}

// ---------------------------------------------------------------- state

bool QtPanel::enabled(std::string_view name) const
{
    QObject* o = control(name);
    if (auto* menu = qobject_cast<QMenu*>(o))
        return menu->menuAction()->isEnabled();
    if (auto* widget = qobject_cast<QWidget*>(o))
        return widget->isEnabled();
    if (auto* action = qobject_cast<QAction*>(o))
        return action->isEnabled();
    wrongKind(name, "enabled state");
    return false;
}

void QtPanel::setEnabled(std::string_view name, bool enabled)
{
    QObject* o = control(name);
    if (auto* menu = qobject_cast<QMenu*>(o))
        menu->menuAction()->setEnabled(enabled);
    else if (auto* widget = qobject_cast<QWidget*>(o))
        widget->setEnabled(enabled);
    else if (auto* action = qobject_cast<QAction*>(o))
        action->setEnabled(enabled);
    else
        wrongKind(name, "enabled state");
}

void QtPanel::setForeColor(std::string_view name, uint32_t color)
{
    QObject* o = control(name);
    auto* widget = qobject_cast<QWidget*>(o);
    if (!widget) {
        wrongKind(name, "colour");
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, toColor(color));
    widget->setPalette(palette);
}

QColor QtPanel::toColor(uint32_t color)
{
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

void QtPanel::setStatusText(std::string_view text)
{
    if (m_statusLine) {
        m_statusLine->setText(qstr(text));
        // The whole line, should the window cut it off.
        m_statusLine->setToolTip(qstr(text));
    }
}

// ---------------------------------------------------------------- numbers

QLocale QtPanel::numberLocale()
{
    QLocale locale;
    // "1.000" in a comma locale is not a thousand: group separators are
    // neither written nor accepted.
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

std::optional<double> QtPanel::parseNumber(std::string_view text) const
{
    bool ok = false;
    const double value = numberLocale().toDouble(qstr(text).trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string QtPanel::formatNumber(double value) const
{
    return numberLocale().toString(value, 'f', 2).toStdString();
}

} // namespace audimera

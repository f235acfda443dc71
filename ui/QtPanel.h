// The engine's panel over the main window's widgets: each control is the
// widget (or menu action) whose objectName is the control's name, members
// of control arrays named like "OptionSigGen(3)".
//
// Kinds: text boxes are QLineEdits; captions are the texts of labels,
// buttons, check boxes, group boxes, menu actions and menus; values are
// scroll bar positions, check box states (0, 1, 2 = partially) and the
// checked state (1/0) of option buttons and checkable menu actions.
//
// Changes made through the panel never fire the window's handlers: the
// engine calls its own handlers where it needs them.
//
// An unknown name is a programming error: it ends the program with qFatal,
// naming it, whatever the build type (see control()). A control of the
// wrong kind for an operation is reported once with qWarning.
//
// UI thread only.
#pragma once

#include "ui/presenter/Panel.h"

#include <QColor>
#include <QHash>
#include <QLocale>
#include <QPointer>
#include <QSet>
#include <QString>

class QLabel;
class QObject;
class QWidget;

namespace audimera {

class QtPanel : public Panel {
public:
    // root: the window whose children are the controls. statusLine: where
    // setStatusText writes; may be set later.
    explicit QtPanel(QWidget& root, QLabel* statusLine = nullptr);

    void setStatusLine(QLabel* statusLine);

    std::string text(std::string_view name) const override;
    void setText(std::string_view name, std::string_view text) override;
    std::string caption(std::string_view name) const override;
    void setCaption(std::string_view name, std::string_view caption) override;
    int value(std::string_view name) const override;
    void setValue(std::string_view name, int value) override;
    bool enabled(std::string_view name) const override;
    void setEnabled(std::string_view name, bool enabled) override;
    void setForeColor(std::string_view name, uint32_t color) override;
    void setStatusText(std::string_view text) override;
    std::optional<double> parseNumber(std::string_view text) const override;
    std::string formatNumber(double value) const override;

    // The control named name; never nullptr: a name without a control ends
    // the program.
    QObject* control(std::string_view name) const;

    // The user's locale as numbers are read and shown: QLocale() without
    // group separators, both ways.
    static QLocale numberLocale();

    // A colour given as red + 256 * green + 65536 * blue.
    static QColor toColor(uint32_t color);

    // Button texts carry '&' as a mnemonic marker; captions do not.
    static QString toMnemonicText(const QString& caption);
    static QString fromMnemonicText(const QString& text);

private:
    // Reports a control of the wrong kind for an operation, once per name.
    void wrongKind(std::string_view name, const char* operation) const;
    void warnOnce(const QString& key, const QString& text) const;

    QWidget& m_root;
    QPointer<QLabel> m_statusLine;
    mutable QHash<QString, QPointer<QObject>> m_cache;
    mutable QSet<QString> m_warned;
};

} // namespace audimera

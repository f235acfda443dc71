// The engine's host in the program: yields process pending window events,
// sleeps are plain sleeps, and messages are modal message boxes titled
// "Audimera". UI thread only.
#pragma once

#include "engine/Host.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <string_view>

class QMessageBox;

namespace audimera {

class QtHost : public Host {
public:
    static constexpr const char* Title = "Audimera";

    // Something that answers messages instead of a message box (tests and
    // scripted demos); it gets the text as the engine gave it.
    using Presenter = std::function<MessageAnswer(std::string_view text, MessageIcon icon, MessageButtons buttons)>;

    // parent: the window the message boxes are modal to; may be null.
    explicit QtHost(QWidget* parent = nullptr);

    void setParentWidget(QWidget* parent) { m_parent = parent; }
    // Replaces the message boxes; an empty presenter restores them.
    void setPresenter(Presenter presenter) { m_presenter = std::move(presenter); }

    void yield() override;
    void sleepMs(int milliseconds) override;
    MessageAnswer message(std::string_view text, MessageIcon icon,
                          MessageButtons buttons = MessageButtons::Ok) override;

    // The message box that message() shows, set up but not shown: the text
    // with "\r\n" as "\n", the icon, OK or Yes/No, the title "Audimera".
    static void prepare(QMessageBox& box, std::string_view text, MessageIcon icon, MessageButtons buttons);
    static QString displayText(std::string_view text);

private:
    QPointer<QWidget> m_parent;
    Presenter m_presenter;
};

} // namespace audimera

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

    // The host of another window of the program: yields and sleeps as this
    // one, but its messages are modal to that window and shown over it (a
    // failure in the Log Sweep window appears there, not over the main
    // window). This host's presenter, when set, answers them.
    class WindowHost : public Host {
    public:
        explicit WindowHost(QtHost& main, QWidget* window = nullptr) : m_main(main), m_window(window) {}
        void setWindow(QWidget* window) { m_window = window; }
        QWidget* window() const { return m_window.data(); }

        void yield() override { m_main.yield(); }
        void sleepMs(int milliseconds) override { m_main.sleepMs(milliseconds); }
        MessageAnswer message(std::string_view text, MessageIcon icon,
                              MessageButtons buttons = MessageButtons::Ok) override
        {
            return m_main.messageOver(m_window.data(), text, icon, buttons);
        }

    private:
        QtHost& m_main;
        QPointer<QWidget> m_window;
    };

    // message() modal to parent (may be null) instead of this host's window.
    MessageAnswer messageOver(QWidget* parent, std::string_view text, MessageIcon icon, MessageButtons buttons);

    // The message box that message() shows, set up but not shown: the text
    // with "\r\n" as "\n", the icon, OK or Yes/No, the title "Audimera".
    static void prepare(QMessageBox& box, std::string_view text, MessageIcon icon, MessageButtons buttons);
    static QString displayText(std::string_view text);

private:
    QPointer<QWidget> m_parent;
    Presenter m_presenter;
};

} // namespace audimera

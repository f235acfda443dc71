// The main window on a simulated sound card, with the file dialog's answers
// and the message boxes injected: the base of the window tests.
#pragma once

#include "display/windows/FormFFT.h"
#include "display/windows/FormHelp.h"
#include "display/windows/FormInputWave.h"
#include "display/windows/FormResponse.h"
#include "devices/SimulatedSoundCard.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

// Answers the file dialog from a queue (nullopt: the user cancelled) and
// keeps every request.
class ScriptedFileDialog : public FileDialog {
public:
    std::optional<std::string> show(const FileDialogRequest& request) override
    {
        requests.push_back(request);
        if (answers.empty())
            return std::nullopt;
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }

    // The filter entry the user picks (0: the first).
    int selectedFilter() const override { return filter; }

    std::deque<std::optional<std::string>> answers;
    std::vector<FileDialogRequest> requests;
    int filter = 0;
};

// A simulated card that logs the calls that matter at shut-down.
class LoggingSoundCard : public SimulatedSoundCard {
public:
    LoggingSoundCard() = default;
    LoggingSoundCard(std::vector<SoundDeviceInfo> play, std::vector<SoundDeviceInfo> record)
        : SimulatedSoundCard(std::move(play), std::move(record))
    {
    }

    void StopPlayback() override
    {
        log.push_back("StopPlayback");
        SimulatedSoundCard::StopPlayback();
    }
    void closeAudio() override
    {
        log.push_back("closeAudio");
        SimulatedSoundCard::closeAudio();
    }
    audimera::Status PlayLoop(const int16_t* table, int rate) override
    {
        log.push_back("PlayLoop");
        return SimulatedSoundCard::PlayLoop(table, rate);
    }

    std::vector<std::string> log;
};

struct ShownMessage {
    std::string text;
    MessageIcon icon;
    MessageButtons buttons;
};

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (window) {
            if (!window->isShutDown())
                window->Form_Unload();
            window.reset();
        }
        QCoreApplication::processEvents();
        qputenv("XDG_DATA_HOME", m_suiteDataHome);
    }

    // Makes the window on card (the default simulated card when none was
    // given) with messages recorded and answered from answers.
    void create(std::unique_ptr<LoggingSoundCard> device = nullptr)
    {
        card = device ? std::move(device) : std::make_unique<LoggingSoundCard>();
        // Each test's own data folder: no recovery file passes between tests.
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
        window = std::make_unique<frmMain>(*card, dialog);
        window->host().setPresenter([this](std::string_view text, MessageIcon icon, MessageButtons buttons) {
            messages.push_back(ShownMessage{std::string(text), icon, buttons});
            if (onMessage)
                onMessage(messages.back());
            if (buttons == MessageButtons::Ok)
                return MessageAnswer::Ok;
            return answer;
        });
    }

    // create() and the start-up; the start must succeed.
    void start(std::unique_ptr<LoggingSoundCard> device = nullptr)
    {
        create(std::move(device));
        const frmMain::StartResult result = window->startUp();
        ASSERT_TRUE(result.ok) << result.message;
        ASSERT_TRUE(messages.empty()) << messages.front().text;
    }

    template <typename T = QObject>
    T* find(const std::string& name) const
    {
        return window->findChild<T*>(QString::fromStdString(name));
    }
    QAbstractButton* button(const std::string& name) const { return find<QAbstractButton>(name); }
    QAction* action(const std::string& name) const { return find<QAction>(name); }
    QLabel* label(const std::string& name) const { return find<QLabel>(name); }
    QLineEdit* edit(const std::string& name) const { return find<QLineEdit>(name); }
    QScrollBar* scroll(const std::string& name) const { return find<QScrollBar>(name); }
    QComboBox* combo(const std::string& name) const { return find<QComboBox>(name); }
    std::string labelText(const std::string& name) const { return label(name)->text().toStdString(); }

    void click(const std::string& name)
    {
        QAbstractButton* b = button(name);
        ASSERT_NE(b, nullptr) << name;
        b->click();
    }
    void trigger(const std::string& name)
    {
        QAction* a = action(name);
        ASSERT_NE(a, nullptr) << name;
        a->trigger();
    }

    // A short range sweep: from start to stop with the step bar at step
    // (hundredths), started by clicking cmdStart; returns when it ended.
    void sweep(const char* from = "1000", const char* to = "2000", int step = 200)
    {
        edit("TextStart")->setText(QString::fromLatin1(from));
        edit("TextStop")->setText(QString::fromLatin1(to));
        scroll("HScrollStep")->setValue(step);
        click("cmdStart");
    }

    // Runs action at every pass of the event loop while the next command
    // runs (inside the run's yields), until it returns true.
    void duringRun(std::function<bool()> action)
    {
        m_timer = std::make_unique<QTimer>();
        m_timer->setInterval(0);
        QObject::connect(m_timer.get(), &QTimer::timeout, [this, action] {
            if (action())
                m_timer->stop();
        });
        m_timer->start();
    }
    void stopDuringRun()
    {
        if (m_timer)
            m_timer->stop();
    }

    // Top-level windows that are visible, of any kind.
    static std::vector<QWidget*> visibleWindows()
    {
        std::vector<QWidget*> shown;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                shown.push_back(w);
        return shown;
    }

    ScriptedFileDialog dialog;
    std::unique_ptr<LoggingSoundCard> card;
    std::unique_ptr<frmMain> window;
    std::vector<ShownMessage> messages;
    std::function<void(const ShownMessage&)> onMessage;
    MessageAnswer answer = MessageAnswer::Yes; // to every Yes/No question
    QTemporaryDir dataHome; // XDG_DATA_HOME while the window lives

private:
    QByteArray m_suiteDataHome = qgetenv("XDG_DATA_HOME");
    std::unique_ptr<QTimer> m_timer;
};

} // namespace audimera

// One QApplication for the whole window suite, created before the first
// test and destroyed after the last. Runs under QT_QPA_PLATFORM=offscreen
// (set by CMake).
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

class UiTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (QCoreApplication::instance())
            return;
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        // Tests close windows on purpose; the suite's event loop is theirs.
        QApplication::setQuitOnLastWindowClosed(false);
        // What the windows keep between sessions stays in the suite's own
        // folder, never in the user's.
        m_settings = std::make_unique<QTemporaryDir>();
        for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, m_settings->path());
        // The session's recovery file and restored corrections too.
        qputenv("XDG_DATA_HOME", m_settings->filePath(QStringLiteral("data")).toLocal8Bit());
    }

    void TearDown() override
    {
        m_app.reset();
        m_settings.reset();
    }

private:
    int m_argc = 1;
    char m_name[16] = "ui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<QTemporaryDir> m_settings;
};

// gtest takes ownership of the environment.
[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new UiTestEnvironment);

} // namespace

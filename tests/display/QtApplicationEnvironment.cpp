// One QApplication for the whole display suite, created before the first
// test and destroyed after the last. Widget tests need it; image-only tests
// do not mind it. Runs under QT_QPA_PLATFORM=offscreen (set by CMake).
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (QCoreApplication::instance())
            return;
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }

    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "display_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

// gtest takes ownership of the environment.
[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace

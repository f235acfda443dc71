// The "Equaliser" window on the simulated card: its controls, the prediction
// following an edit as it is typed, Add predicted, Apply on a server that is
// not PipeWire, and the applier's process and log-in files.
#include "tests/ui/MainWindowFixture.h"

#include "ui/EqApplier.h"
#include "ui/FormEqualiser.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace audimera {

namespace {

class EqualiserWindow : public MainWindowTest {
protected:
    void SetUp() override
    {
        QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).remove(FormEqualiser::SettingsGroup);
        start();
        std::vector<ResponsePoint> flat;
        for (double f = 20; f <= 20000; f *= 1.05)
            flat.push_back({f, 0, std::nullopt});
        ASSERT_TRUE(window->session().addTrace(flat, "flat").ok());
        trigger("MenuEntryEqualiser");
    }
    FormEqualiser& eq() { return window->equaliserWindow(); }
    template <typename T = QWidget>
    T* control(const char* name)
    {
        T* w = eq().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // The predicted level nearest hz.
    double predictedAt(double hz)
    {
        const std::vector<CurvePoint> p = eq().predicted();
        return std::min_element(p.begin(), p.end(), [&](const CurvePoint& a, const CurvePoint& b) {
                   return std::abs(std::log(a.frequency / hz)) < std::abs(std::log(b.frequency / hz));
               })->level;
    }
};

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(EqualiserWindow, ShowsItsControlsWithToolTipsAndApplyIsOffWithoutPipeWire)
{
    EXPECT_TRUE(eq().isVisible());
    EXPECT_EQ(action("MenuEntryEqualiser")->text(), QStringLiteral("&Equaliser..."));
    for (const char* name :
         {"ComboEqTrace", "ComboEqTarget", "txtEqTargetFile", "cmdEqTargetBrowse", "SpinEqTilt", "SpinEqShelfGain",
          "SpinEqShelfHz", "CheckEqLevel", "SpinEqLevel", "SpinEqLow", "SpinEqHigh", "SpinEqFilters", "SpinEqMaxBoost",
          "SpinEqMaxCut", "LabelEqSmoothing", "ViewEqPlot", "TableEqFilters", "cmdEqAddFilter", "cmdEqRemoveFilter",
          "cmdEqFit", "cmdEqClear", "ComboEqFirTaps", "cmdEqExport", "cmdEqAddPredicted", "LabelEqResult",
          "cmdEqApply", "cmdEqRemove", "CheckEqLogin", "LabelEqApplied"})
        EXPECT_FALSE(control(name)->toolTip().isEmpty()) << name;
    EXPECT_EQ(control<QLabel>("LabelEqSmoothing")->text(), QString::fromLatin1(FormEqualiser::SmoothingNote));
    const EqFitSettings s = eq().fitSettings();
    EXPECT_EQ(std::tuple(s.lowHz, s.highHz, s.filters, s.maxBoostDb, s.maxCutDb), std::tuple(20.0, 500.0, 10, 3.0, 15.0));
    EXPECT_EQ(control<QComboBox>("ComboEqTrace")->count(), 1);
    // The simulated card has no sound server: Apply is off and says why.
    EXPECT_FALSE(control("cmdEqApply")->isEnabled());
    EXPECT_TRUE(control("cmdEqApply")->toolTip().contains(QStringLiteral("PipeWire")));
}

TEST_F(EqualiserWindow, PredictionFollowsTypingAndAddPredictedAddsThatTrace)
{
    eq().setFilters({EqFilter{.hz = 100, .gainDb = 6, .q = 2}});
    EXPECT_NEAR(predictedAt(100), 6, 0.05);
    auto* table = control<QTableWidget>("TableEqFilters");
    // Typing a gain of -9 into the cell: the prediction moves before the
    // edit is committed.
    table->editItem(table->item(0, FormEqualiser::GainColumn));
    auto* editor = table->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    for (const char* key : {"-", "9"}) {
        QKeyEvent press(QEvent::KeyPress, key[0] == '-' ? Qt::Key_Minus : Qt::Key_9, Qt::NoModifier,
                        QString::fromLatin1(key));
        QCoreApplication::sendEvent(editor, &press);
    }
    EXPECT_NEAR(predictedAt(100), -9, 0.05);
    // Off: nothing predicted.
    table->item(0, FormEqualiser::OnColumn)->setCheckState(Qt::Unchecked);
    EXPECT_NEAR(predictedAt(100), 0, 1e-9);
    table->item(0, FormEqualiser::OnColumn)->setCheckState(Qt::Checked);

    control<QPushButton>("cmdEqAddPredicted")->click();
    const MeasurementDocument& document = window->document();
    ASSERT_EQ(document.traces().GetTraceCount(), 2);
    EXPECT_EQ(document.traceName(1), FormEqualiser::PredictedTraceName);
    const std::vector<CurvePoint> added = document.lastTrace();
    EXPECT_EQ(added.size(), eq().predicted().size());
    EXPECT_NEAR(std::min_element(added.begin(), added.end(), [](auto& a, auto& b) { return a.level < b.level; })->level,
                -9, 0.1);
    EXPECT_EQ(control<QComboBox>("ComboEqTrace")->currentIndex(), 0); // still designing for the first
}

TEST(EqApplier, TellsPipeWireFromOtherServers)
{
    const std::pair<const char*, bool> cases[] = {
        {"", false}, {"pulseaudio", false}, {"PulseAudio (on PipeWire 0.3.65)", true}};
    for (const auto& [name, pipewire] : cases) {
        EXPECT_EQ(EqApplier::isPipeWire(name), pipewire) << name;
        EXPECT_EQ(EqApplier::whyNot(name).isEmpty(), pipewire) << name;
    }
}

TEST(EqApplier, RunsThePrivateFileAndWritesOnlyItsOwnLoginFiles)
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("fake-pipewire"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("#!/bin/sh\necho \"$@\" > '%1/args'\nexec sleep 30\n").arg(dir.path()).toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    EqApplier applier;
    applier.setProgram(script);
    applier.setEnvironment(environment);

    ASSERT_TRUE(applier.start("conf text").ok());
    EXPECT_TRUE(applier.isRunning());
    EXPECT_EQ(applier.runtimeFile(), dir.filePath(QStringLiteral("audimera/eq-filter-chain.conf")));
    EXPECT_EQ(fileText(applier.runtimeFile()), "conf text");
    for (int i = 0; i < 200 && fileText(dir.filePath(QStringLiteral("args"))).isEmpty(); ++i)
        QThread::msleep(10);
    EXPECT_EQ(fileText(dir.filePath(QStringLiteral("args"))).trimmed(), ("-c " + applier.runtimeFile()).toUtf8());
    applier.stop();
    EXPECT_FALSE(applier.isRunning());

    const Result<std::string> installed = applier.installForLogin("conf text");
    ASSERT_TRUE(installed.ok()) << installed.message();
    const QString folder = dir.filePath(QStringLiteral("config/pipewire"));
    EXPECT_EQ(fileText(folder + QStringLiteral("/audimera-eq.conf")), "conf text");
    const QByteArray dropIn = fileText(folder + QStringLiteral("/pipewire.conf.d/90-audimera-eq.conf"));
    EXPECT_TRUE(dropIn.contains(("-c " + folder + "/audimera-eq.conf").toUtf8())) << dropIn.constData();
    EXPECT_NE(installed->find((folder + "/pipewire.conf.d").toStdString()), std::string::npos);
    EXPECT_FALSE(applier.removeFromLogin()->empty());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(folder + QStringLiteral("/pipewire.conf.d")).entryList(QDir::Files), QStringList());
}

} // namespace audimera

// The panel over real widgets: every kind of control, mnemonics, option
// arrays, menus, unknown names, colours and numbers in the user's locale.
#include "ui/QtPanel.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cmath>

namespace audimera {

namespace {

class DefaultLocale {
public:
    explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

// Collects the warnings Qt logs while it lives.
class WarningCatcher {
public:
    WarningCatcher()
    {
        s_warnings.clear();
        m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg)
                s_warnings.push_back(text.toStdString());
        });
    }
    ~WarningCatcher() { qInstallMessageHandler(m_previous); }
    static std::vector<std::string> s_warnings;

private:
    QtMessageHandler m_previous;
};
std::vector<std::string> WarningCatcher::s_warnings;

class QtPanelTest : public ::testing::Test {
protected:
    QtPanelTest() : panel(window, &status)
    {
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        auto add = [&](QWidget* w, const char* name) {
            w->setObjectName(QString::fromLatin1(name));
            layout->addWidget(w);
            return w;
        };
        edit = static_cast<QLineEdit*>(add(new QLineEdit(QStringLiteral("20")), "TextStart"));
        label = static_cast<QLabel*>(add(new QLabel(QStringLiteral("N/A")), "LabelDB"));
        push = static_cast<QPushButton*>(add(new QPushButton(QStringLiteral("Start Trace")), "cmdStart"));
        check = static_cast<QCheckBox*>(add(new QCheckBox(QStringLiteral("x20")), "CheckBy5"));
        bar = static_cast<QScrollBar*>(add(new QScrollBar(Qt::Horizontal), "HScrollPan"));
        bar->setRange(-1000, 1000);
        frame = static_cast<QGroupBox*>(add(new QGroupBox(QStringLiteral("Measure")), "Frame3"));
        auto* group = new QButtonGroup(central);
        for (int i = 0; i < 3; ++i) {
            options[i] = static_cast<QRadioButton*>(add(new QRadioButton(QStringLiteral("Option")),
                                                        controlName("OptionSigGen", i).c_str()));
            group->addButton(options[i], i);
        }
        options[0]->setChecked(true);
        window.setCentralWidget(central);

        menu = window.menuBar()->addMenu(QStringLiteral("&Play Device"));
        menu->setObjectName(QStringLiteral("MenuOutDevice"));
        entry = menu->addAction(QStringLiteral("Device0"));
        entry->setObjectName(QStringLiteral("MenuEntryOutDevice(0)"));
        entry->setCheckable(true);
    }

    QMainWindow window;
    QLabel status;
    QtPanel panel;
    QLineEdit* edit;
    QLabel* label;
    QPushButton* push;
    QCheckBox* check;
    QScrollBar* bar;
    QGroupBox* frame;
    QRadioButton* options[3];
    QMenu* menu;
    QAction* entry;
};

TEST_F(QtPanelTest, TextsAndCaptionsReachTheirWidgets)
{
    EXPECT_EQ(panel.text("TextStart"), "20");
    panel.setText("TextStart", "1000");
    EXPECT_EQ(edit->text().toStdString(), "1000");

    EXPECT_EQ(panel.caption("LabelDB"), "N/A");
    panel.setCaption("LabelDB", "-3.01 dB");
    EXPECT_EQ(label->text().toStdString(), "-3.01 dB");

    panel.setCaption("cmdStart", "Stop Signal");
    EXPECT_EQ(push->text().toStdString(), "Stop Signal");
    EXPECT_EQ(panel.caption("Frame3"), "Measure");
    panel.setCaption("MenuEntryOutDevice(0)", "&Card");
    EXPECT_EQ(entry->text().toStdString(), "&Card");
    EXPECT_EQ(panel.caption("MenuOutDevice"), "&Play Device");
}

TEST_F(QtPanelTest, AmpersandsInButtonCaptionsAreShownNotTakenAsMnemonics)
{
    panel.setCaption("cmdStart", "Load & Go");
    EXPECT_EQ(push->text().toStdString(), "Load && Go");
    EXPECT_EQ(panel.caption("cmdStart"), "Load & Go");
    panel.setCaption("Frame3", "A & B");
    EXPECT_EQ(panel.caption("Frame3"), "A & B");
    EXPECT_EQ(QtPanel::fromMnemonicText(QStringLiteral("&Save Last && Trace")).toStdString(), "Save Last & Trace");
}

TEST_F(QtPanelTest, ValuesOfBarsBoxesOptionsAndTicks)
{
    panel.setValue("HScrollPan", -500);
    EXPECT_EQ(bar->value(), -500);
    EXPECT_EQ(panel.value("HScrollPan"), -500);

    EXPECT_EQ(panel.value("CheckBy5"), 0);
    panel.setValue("CheckBy5", 1);
    EXPECT_EQ(check->checkState(), Qt::Checked);
    EXPECT_EQ(panel.value("CheckBy5"), 1);
    panel.setValue("CheckBy5", 2);
    EXPECT_EQ(check->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(panel.value("CheckBy5"), 2);
    panel.setValue("CheckBy5", 0);
    EXPECT_EQ(panel.value("CheckBy5"), 0);

    panel.setValue("MenuEntryOutDevice(0)", 1);
    EXPECT_TRUE(entry->isChecked());
    EXPECT_EQ(panel.value("MenuEntryOutDevice(0)"), 1);
}

TEST_F(QtPanelTest, AnOptionArrayKeepsOneSelectedAndCanBeCleared)
{
    panel.setValue("OptionSigGen(2)", 1);
    EXPECT_EQ(panel.value("OptionSigGen(0)"), 0);
    EXPECT_EQ(panel.value("OptionSigGen(2)"), 1);
    // Clearing the selected member clears the array, as the table allows.
    panel.setValue("OptionSigGen(2)", 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(panel.value(controlName("OptionSigGen", i)), 0) << i;
    // The array is exclusive again afterwards.
    options[1]->click();
    options[0]->click();
    EXPECT_FALSE(options[1]->isChecked());
}

TEST_F(QtPanelTest, WhileTheThumbIsDraggedTheValueIsWhereTheThumbIs)
{
    bar->setTracking(false);
    bar->setSliderDown(true);
    bar->setSliderPosition(700);
    EXPECT_EQ(panel.value("HScrollPan"), 700);
    bar->setSliderDown(false);
    EXPECT_EQ(bar->value(), 700);
}

TEST_F(QtPanelTest, ChangesFireNoSignalsOfTheWidgets)
{
    int fired = 0;
    QObject::connect(bar, &QAbstractSlider::valueChanged, [&] { ++fired; });
    QObject::connect(check, &QCheckBox::stateChanged, [&] { ++fired; });
    QObject::connect(edit, &QLineEdit::textChanged, [&] { ++fired; });
    panel.setValue("HScrollPan", 300);
    panel.setValue("CheckBy5", 1);
    panel.setText("TextStart", "5");
    EXPECT_EQ(fired, 0);
}

TEST_F(QtPanelTest, EnabledStatesOfWidgetsActionsAndMenus)
{
    panel.setEnabled("cmdStart", false);
    EXPECT_FALSE(push->isEnabled());
    EXPECT_FALSE(panel.enabled("cmdStart"));
    panel.setEnabled("MenuEntryOutDevice(0)", false);
    EXPECT_FALSE(entry->isEnabled());
    // A menu is disabled as an entry of its parent menu.
    panel.setEnabled("MenuOutDevice", false);
    EXPECT_FALSE(menu->menuAction()->isEnabled());
    EXPECT_FALSE(panel.enabled("MenuOutDevice"));
    panel.setEnabled("MenuOutDevice", true);
    EXPECT_TRUE(panel.enabled("MenuOutDevice"));
}

TEST_F(QtPanelTest, ForeColorIsRedPlus256GreenPlus65536Blue)
{
    panel.setForeColor("LabelDB", 255u * 65536u);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    panel.setForeColor("LabelDB", 0x00FF8001u);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(1, 128, 255));
}

TEST_F(QtPanelTest, TheStatusTextGoesToTheStatusLine)
{
    panel.setStatusText("Point 3 of 31");
    EXPECT_EQ(status.text().toStdString(), "Point 3 of 31");
    panel.setStatusText("");
    EXPECT_TRUE(status.text().isEmpty());
}

// In every build type, reading or changing alike: no empty stand-in.
TEST_F(QtPanelTest, AnUnknownNameEndsTheProgramNamingIt)
{
    // The child starts afresh rather than as a fork of Qt's threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(panel.text("TextNowhere"), "no control named 'TextNowhere'");
    EXPECT_DEATH(panel.setValue("TextNowhere", 1), "no control named 'TextNowhere'");
}

TEST_F(QtPanelTest, AControlOfTheWrongKindIsReportedOnce)
{
    WarningCatcher catcher;
    EXPECT_EQ(panel.value("LabelDB"), 0);
    EXPECT_EQ(panel.value("LabelDB"), 0);
    EXPECT_EQ(WarningCatcher::s_warnings.size(), 1u);
}

TEST_F(QtPanelTest, NumbersInTheCLocale)
{
    const DefaultLocale c(QLocale::c());
    EXPECT_EQ(panel.formatNumber(1.26), "1.26");
    EXPECT_EQ(panel.formatNumber(20000), "20000.00");
    EXPECT_EQ(panel.parseNumber("20.5"), 20.5);
    EXPECT_EQ(panel.parseNumber(" 1000 "), 1000);
    EXPECT_EQ(panel.parseNumber("-3"), -3);
    EXPECT_FALSE(panel.parseNumber("abc"));
    EXPECT_FALSE(panel.parseNumber(""));
    EXPECT_FALSE(panel.parseNumber("1e400"));
    EXPECT_FALSE(panel.parseNumber("inf"));
    EXPECT_FALSE(panel.parseNumber("nan"));
}

TEST_F(QtPanelTest, NumbersInACommaLocaleHaveNoGroupSeparators)
{
    const DefaultLocale german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(panel.formatNumber(1.26), "1,26");
    EXPECT_EQ(panel.formatNumber(20000), "20000,00");
    EXPECT_EQ(panel.parseNumber("20,5"), 20.5);
    EXPECT_EQ(panel.parseNumber("20000"), 20000);
    // "1.000" is not a thousand here, and not one either.
    EXPECT_FALSE(panel.parseNumber("1.000"));
    EXPECT_FALSE(panel.parseNumber("20.5"));
}

TEST_F(QtPanelTest, NumbersInALocaleWithGroupSeparatorsAreWrittenWithout)
{
    const DefaultLocale us(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(panel.formatNumber(12345.678), "12345.68");
    EXPECT_FALSE(panel.parseNumber("12,345"));
    EXPECT_EQ(panel.parseNumber("12345.5"), 12345.5);
}

} // namespace

} // namespace audimera

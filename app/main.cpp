// Audimera: the desktop program. The main window does the start-up; the
// exit code says whether it could.
#include "signal/PulseSoundDevice.h"
#include "ui/QtFileDialog.h"
#include "ui/frmMain.h"

#include <QApplication>

using namespace audimera;

#ifndef AUDIMERA_VERSION
#define AUDIMERA_VERSION "0.1"
#endif

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Audimera"));
    QApplication::setApplicationDisplayName(QStringLiteral("Audimera"));
    QApplication::setApplicationVersion(QStringLiteral(AUDIMERA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("audimera"));

    PulseSoundDevice sound;
    QtFileDialog fileDialog;
    frmMain window(sound, fileDialog);
    fileDialog.setParentWidget(&window);

    if (!window.startUp().ok)
        return 1;
    return QApplication::exec();
}

// Audimera: the desktop program. The main window does the start-up; the
// exit code says whether it could.
#include "common/BuildInfo.h"
#include "devices/PulseSoundDevice.h"
#include "ui/QtFileDialog.h"
#include "ui/frmMain.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

using namespace audimera;

int main(int argc, char** argv)
{
    // Answered before Qt starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("audimera %s\n", BuildInfo::Version);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("Usage: audimera [--version] [--help] [Qt options]\n"
                        "Measures the frequency response of an audio chain with a PC sound card.\n"
                        "The headless measurement is audimera-measure; see audimera(1).\n");
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Audimera"));
    QApplication::setApplicationDisplayName(QStringLiteral("Audimera"));
    QApplication::setApplicationVersion(QString::fromUtf8(BuildInfo::Version));
    QApplication::setDesktopFileName(QStringLiteral("audimera"));

    PulseSoundDevice sound;
    QtFileDialog fileDialog;
    frmMain window(sound, fileDialog);
    fileDialog.setParentWidget(&window);

    if (!window.startUp().ok)
        return 1;
    return QApplication::exec();
}

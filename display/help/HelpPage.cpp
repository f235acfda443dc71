#include "display/help/HelpPage.h"

#include "common/BuildInfo.h"

#include <QFile>

namespace audimera {

namespace HelpPage {

namespace {

// The page, display/help/index.html, is compiled in as a Qt resource.
// It is written for Qt's rich-text engine: HTML 4 elements, table attributes
// instead of style sheets, anchors as <a name>.
constexpr const char* PagePath = ":/help/index.html";

} // namespace

QString html()
{
    // Read once; the resource is part of the program, so it is always there.
    static const QString page = [] {
        QFile file(QString::fromLatin1(PagePath));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    return page;
}

QString version()
{
    return QString::fromUtf8(BuildInfo::Version);
}

QString aboutTitle()
{
    return QStringLiteral("About ") + QString::fromUtf8(ProgramName);
}

QString aboutText()
{
    return QString::fromUtf8(ProgramName) + QLatin1Char(' ') + version() + QStringLiteral("\n\n")
        + QString::fromUtf8(Description) + QStringLiteral("\n\n") + QString::fromUtf8(AuthorLine);
}

} // namespace HelpPage

} // namespace audimera

#include "display/windows/FormHelp.h"

#include "display/help/HelpPage.h"

#include <QCloseEvent>
#include <QScreen>
#include <QTextBrowser>

namespace audimera {

FormHelp::FormHelp(QWidget* parent)
    : FormWindow(parent), m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("FormHelp"));
    setWindowTitle(QStringLiteral("Help"));
    m_browser->setObjectName(QStringLiteral("WebBrowser1"));
    // The page links only to its own anchors; nothing leaves the program.
    m_browser->setOpenLinks(true);
    m_browser->setOpenExternalLinks(false);
    m_browser->setHtml(HelpPage::html());
    resize(InitialWidth, InitialHeight);
    placeOnScreen();
    // A hidden widget gets its resize event only when first shown; the
    // browser has its place before that.
    fitBrowser();
}

void FormHelp::showHelp()
{
    show();
    raise();
    activateWindow();
}


void FormHelp::fitBrowser()
{
    m_browser->setGeometry(rect());
}


void FormHelp::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitBrowser();
}

} // namespace audimera

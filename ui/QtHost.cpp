#include "ui/QtHost.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <chrono>
#include <thread>

namespace audimera {

QtHost::QtHost(QWidget* parent) : m_parent(parent)
{
}

void QtHost::yield()
{
    QCoreApplication::processEvents();
}

void QtHost::sleepMs(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

QString QtHost::displayText(std::string_view text)
{
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

void QtHost::prepare(QMessageBox& box, std::string_view text, MessageIcon icon, MessageButtons buttons)
{
    box.setWindowTitle(QString::fromLatin1(Title));
    box.setText(displayText(text));
    // Paths and device names are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
}

MessageAnswer QtHost::message(std::string_view text, MessageIcon icon, MessageButtons buttons)
{
    return messageOver(m_parent.data(), text, icon, buttons);
}

MessageAnswer QtHost::messageOver(QWidget* parent, std::string_view text, MessageIcon icon, MessageButtons buttons)
{
    if (m_presenter)
        return m_presenter(text, icon, buttons);
    QMessageBox box(parent);
    prepare(box, text, icon, buttons);
    const int pressed = box.exec();
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

} // namespace audimera

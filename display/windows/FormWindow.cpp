#include "display/windows/FormWindow.h"

#include <QCloseEvent>
#include <QScreen>

namespace audimera {

FormWindow::FormWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

void FormWindow::placeOnScreen()
{
    const QScreen* scr = screen();
    if (!scr)
        return;
    const QRect area = scr->geometry();
    const QRect frame = frameGeometry();
    QPoint to = frame.topLeft();
    if (frame.right() > area.right())
        to.setX(area.x() + area.width() - frame.width());
    if (frame.bottom() > area.bottom())
        to.setY(area.y() + area.height() - frame.height());
    if (to != frame.topLeft())
        move(to);
}

void FormWindow::closeEvent(QCloseEvent* event)
{
    if (m_closingAllowed) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
    emit closedByUser();
}

} // namespace audimera

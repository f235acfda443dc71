#include "display/windows/FormWindow.h"

#include "display/windows/ScreenPlacement.h"

#include <QCloseEvent>
#include <QShowEvent>

namespace audimera {

FormWindow::FormWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

void FormWindow::placeOnScreen()
{
    keepInsideScreen(*this);
}

void FormWindow::showEvent(QShowEvent* event)
{
    // A kept or moved place may no longer fit the screen it opens on.
    if (!event->spontaneous())
        keepInsideScreen(*this);
    QWidget::showEvent(event);
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

#include "ui/DeviceDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace audimera {

DeviceDialog::DeviceDialog(Kind kind, const std::vector<SoundDeviceInfo>& devices, int current, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DeviceDialog"));
    setWindowTitle(QString::fromLatin1(Title[kind == Kind::Play ? 0 : 1]));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(kind == Kind::Play ? QStringLiteral("Every play device of the sound system:")
                                                    : QStringLiteral("Every record device of the sound system:")));
    m_list = new QTreeWidget;
    m_list->setObjectName(QStringLiteral("ListDevices"));
    m_list->setToolTip(QStringLiteral("The devices with the rate they run at; a monitor records what a play device "
                                      "plays. Double-click or OK uses the device for this session"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    QStringList headers;
    for (const char* c : Columns)
        headers << QString::fromLatin1(c);
    m_list->setHeaderLabels(headers);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        auto* row = new QTreeWidgetItem(m_list, rowTexts(devices[i]));
        row->setData(0, Qt::UserRole, int(i));
        if (int(i) == current)
            m_list->setCurrentItem(row);
    }
    for (int c = 0; c < m_list->columnCount(); ++c)
        m_list->resizeColumnToContents(c);
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(m_list->currentItem() != nullptr);
    connect(m_list, &QTreeWidget::currentItemChanged, ok, [ok](QTreeWidgetItem* item) { ok->setEnabled(item); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(560, 320);
}

int DeviceDialog::chosen() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

QStringList DeviceDialog::rowTexts(const SoundDeviceInfo& device)
{
    return {QString::fromStdString(device.description.empty() ? device.name : device.description),
            device.rate > 0 ? QStringLiteral("%1 Hz").arg(device.rate) : QString(),
            device.isMonitor() ? QStringLiteral("Monitor of ") + QString::fromStdString(device.monitorOf) : QString(),
            QString::fromStdString(device.name)};
}

} // namespace audimera

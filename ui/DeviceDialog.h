// "Other Device...": every device of one kind the sound system has (play:
// its sinks, record: its sources), beyond the four entries of a device menu,
// each with its rate and whether it is a monitor (a loopback of a play
// device's output). The user picks one; the caller opens it like a menu
// entry. UI thread only.
#pragma once

#include "devices/SoundDevice.h"

#include <QDialog>

#include <vector>

class QTreeWidget;

namespace audimera {

class DeviceDialog : public QDialog {
    Q_OBJECT

public:
    enum class Kind { Play, Record };
    static constexpr const char* Title[] = {"Play Device", "Record Device"};
    // Column headers of ListDevices, in order.
    static constexpr const char* Columns[] = {"Device", "Rate", "Monitor", "Name"};

    // devices: the list as the sound device gives it (its order is the
    // index the device opens by); current: the one in use, -1 for none.
    DeviceDialog(Kind kind, const std::vector<SoundDeviceInfo>& devices, int current, QWidget* parent = nullptr);

    // The device chosen (an index into the list given), -1 for none.
    int chosen() const;

    // The texts of one row: description, rate ("48000 Hz", "" unknown),
    // monitor ("Monitor of <play device>", "" for a real input), name.
    static QStringList rowTexts(const SoundDeviceInfo& device);

private:
    QTreeWidget* m_list = nullptr;
};

} // namespace audimera

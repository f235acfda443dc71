#include "signal/PulseSoundDevice.h"

#include <optional>
#include <utility>

namespace audimera {

using audimera::Error;
using audimera::Result;
using audimera::Status;

namespace {

constexpr const char* NoServer = "No sound server reachable: ";

int indexOf(const std::vector<SoundDeviceInfo>& devices, const std::string& name)
{
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == name)
            return int(i);
    return -1;
}

} // namespace

class PulseSoundDevice::Busy {
public:
    explicit Busy(PulseSoundDevice& device) : m_device(device), m_refused(device.m_busy)
    {
        if (m_refused)
            return;
        m_device.m_busy = true;
        m_action.emplace(m_device.m_pulse);
    }
    ~Busy()
    {
        if (!m_refused)
            m_device.m_busy = false;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    bool refused() const { return m_refused; }

private:
    PulseSoundDevice& m_device;
    bool m_refused;
    std::optional<PulseContext::Action> m_action;
};

PulseSoundDevice::PulseSoundDevice(std::string server)
    : m_pulse(std::move(server)),
      m_play(m_pulse),
      m_record(m_pulse)
{
}

PulseSoundDevice::~PulseSoundDevice()
{
    closeAudio();
}

Status PulseSoundDevice::probeServer(const std::string& server)
{
    PulseContext pulse(server);
    if (Status connected = pulse.connect(); !connected)
        return Error{NoServer + connected.message()};
    return {};
}

Error PulseSoundDevice::outputError(const SoundDeviceInfo& device, const std::string& reason)
{
    return Error{"Error opening output device '" + device.description
                 + "' or no real time frequency support, try another device in settings menu\n" + reason};
}

Error PulseSoundDevice::inputError(const SoundDeviceInfo& device, const std::string& reason)
{
    return Error{"Error opening input device '" + device.description + "', try another device in settings menu\n"
                 + reason};
}

Status PulseSoundDevice::ensureConnected()
{
    if (m_pulse.isReady())
        return {};
    // Streams of a dead context go with it.
    m_play.close();
    m_record.close();
    m_output = -1;
    m_input = -1;
    return m_pulse.connect();
}

Status PulseSoundDevice::refresh()
{
    if (Status connected = ensureConnected(); !connected)
        return connected;
    const std::string output = m_output >= 0 ? m_playDevices[size_t(m_output)].name : std::string();
    const std::string input = m_input >= 0 ? m_recordDevices[size_t(m_input)].name : std::string();
    // Whatever the server announced before the question is in the answer.
    const unsigned events = m_pulse.deviceEvents();
    std::vector<SoundDeviceInfo> play, record;
    if (Status listed = m_pulse.listDevices(play, record); !listed)
        return listed;
    m_seenEvents = events;
    m_playDevices = std::move(play);
    m_recordDevices = std::move(record);
    // The entries in use follow their devices (-1 once one is not listed).
    if (m_output >= 0)
        m_output = indexOf(m_playDevices, output);
    if (m_input >= 0)
        m_input = indexOf(m_recordDevices, input);
    return {};
}

Status PulseSoundDevice::refreshDevices()
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    return refresh();
}

Status PulseSoundDevice::initAudio()
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    if (Status connected = ensureConnected(); !connected)
        return noSoundCard(NoServer + connected.message());
    if (Status listed = refresh(); !listed)
        return noSoundCard("The sound server did not list its devices: " + listed.message());
    if (Status lists = requireDevices(m_playDevices, m_recordDevices); !lists)
        return lists;
    if (Status output = openOutput(0); !output)
        return output;
    return openInput(0, 1);
}

std::vector<SoundDeviceInfo> PulseSoundDevice::playDevices()
{
    return m_playDevices;
}

std::vector<SoundDeviceInfo> PulseSoundDevice::recordDevices()
{
    return m_recordDevices;
}

Status PulseSoundDevice::openOutputDevice(int index)
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    return openOutput(index);
}

Status PulseSoundDevice::openOutput(int index)
{
    if (index < 0 || index >= int(m_playDevices.size()))
        return Error{"There is no play device number " + std::to_string(index)};
    const SoundDeviceInfo device = m_playDevices[size_t(index)];
    Status opened = ensureConnected();
    if (opened)
        opened = m_play.open(device.name);
    if (!opened)
        return outputError(device, opened.message());
    m_output = index;
    return {};
}

Status PulseSoundDevice::openInputDevice(int index)
{
    return openInputDevice(index, 1);
}

Status PulseSoundDevice::openInputDevice(int index, int channels)
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    return openInput(index, channels);
}

Status PulseSoundDevice::openInput(int index, int channels)
{
    if (index < 0 || index >= int(m_recordDevices.size()))
        return Error{"There is no record device number " + std::to_string(index)};
    const SoundDeviceInfo device = m_recordDevices[size_t(index)];
    Status opened = ensureConnected();
    if (opened)
        opened = m_record.open(device.name, channels);
    if (!opened)
        return inputError(device, opened.message());
    m_input = index;
    return {};
}

void PulseSoundDevice::closeAudio()
{
    // Inside a wait the server's thread is still in use; the caller closes
    // once the wait has returned.
    if (m_busy)
        return;
    // The streams go before a hold ends: nothing of theirs reaches the
    // server's thread after.
    m_play.close();
    m_record.close();
    holdServerThread(false);
    m_pulse.disconnect();
    m_output = -1;
    m_input = -1;
}

DeviceChanges PulseSoundDevice::followDevices()
{
    DeviceChanges changes;
    changes.output = m_output;
    changes.input = m_input;
    // Never connected, or closed: there is nothing to follow.
    if (!m_pulse.hasMainloop())
        return changes;
    Busy busy(*this);
    if (busy.refused())
        return changes;
    if (m_pulse.isReady() && m_pulse.deviceEvents() == m_seenEvents)
        return changes;

    // What is in use, by name: the lists are about to change under it.
    const std::optional<SoundDeviceInfo> output =
        m_output >= 0 ? std::optional(m_playDevices[size_t(m_output)]) : std::nullopt;
    const std::optional<SoundDeviceInfo> input =
        m_input >= 0 ? std::optional(m_recordDevices[size_t(m_input)]) : std::nullopt;
    const bool outputWorks = output && m_play.status().ok();
    const bool inputWorks = input && !m_record.hasFailed();
    const int channels = m_record.channels();
    const std::vector<SoundDeviceInfo> play = m_playDevices;
    const std::vector<SoundDeviceInfo> record = m_recordDevices;

    // Reconnects after the server died; its streams are gone then.
    const Status listed = refresh();
    if (!listed && m_pulse.isReady())
        return changes; // connected but not listed: the events stay unseen, tried again later
    changes.listed = play != m_playDevices || record != m_recordDevices;
    changes.changed = changes.listed;

    // A device in use that failed or left its entry is opened again by name;
    // entry is where it is now, -1 when it could not be.
    auto reopen = [&](const std::vector<SoundDeviceInfo>& devices, const SoundDeviceInfo& device, int& entry,
                      auto open) -> Status {
        const int index = listed ? indexOf(devices, device.name) : -1;
        const Status opened = !listed ? listed : index < 0 ? Status(Error{GoneError}) : open();
        entry = opened ? index : -1;
        return opened;
    };
    if (output && (!outputWorks || m_output < 0)) {
        const Status reopened = reopen(m_playDevices, *output, m_output, [&] { return m_play.open(output->name); });
        if (reopened) {
            changes.outputReopened = true;
        } else {
            m_play.close();
            changes.outputLost = outputError(*output, reopened.message()).message;
        }
        changes.changed = true;
    }
    if (input && (!inputWorks || m_input < 0)) {
        const Status reopened =
            reopen(m_recordDevices, *input, m_input, [&] { return m_record.open(input->name, channels); });
        if (!reopened) {
            m_record.close();
            changes.inputLost = inputError(*input, reopened.message()).message;
        }
        changes.changed = true;
    }
    changes.output = m_output;
    changes.input = m_input;
    return changes;
}

void PulseSoundDevice::StopPlayback()
{
    if (m_play.isOpen())
        m_play.stop();
}

Status PulseSoundDevice::PlayLoop(const int16_t* table, int rate)
{
    if (m_busy)
        return Error{BusyError};
    return m_play.playLoop(table, rate);
}

void PulseSoundDevice::SetPlayRate(int rate)
{
    if (m_play.isOpen())
        m_play.setRate(rate);
}

void PulseSoundDevice::SetPlayVolume(int volume)
{
    if (m_play.isOpen())
        m_play.setVolume(volume);
}

void PulseSoundDevice::SetPlayPan(int pan)
{
    if (m_play.isOpen())
        m_play.setPan(pan);
}

Result<Recorded> PulseSoundDevice::RecordBlock(int16_t* buffer, RecordWaiter& waiter)
{
    // A block is only worth anything while the tone it measures plays: a
    // play device that has gone (unplugged, its module unloaded) fails the
    // block too, before or after it is recorded.
    auto playing = [&]() -> Status {
        if (!m_play.isOpen())
            return {};
        if (Status works = m_play.status(); !works)
            return Error{"The play device failed: " + works.message()};
        return {};
    };
    if (Status before = playing(); !before)
        return before.error();
    Result<Recorded> result = recordSamples(buffer, RecordSamples, waiter);
    if (result && *result == Recorded::Complete)
        if (Status after = playing(); !after)
            return after.error();
    return result;
}

Result<Recorded> PulseSoundDevice::recordSamples(int16_t* buffer, int samples, RecordWaiter& waiter)
{
    if (m_busy)
        return Error{BusyError};
    return m_record.record(buffer, samples, waiter);
}

void PulseSoundDevice::holdServerThread(bool hold)
{
    if (hold == m_holding || !m_pulse.hasMainloop())
        return;
    m_holding = hold;
    // The mainloop's lock is recursive: this thread's own calls still work.
    if (hold)
        m_pulse.lockMainloop();
    else
        m_pulse.unlockMainloop();
}

} // namespace audimera

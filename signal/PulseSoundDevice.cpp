#include "PulseSoundDevice.h"

#include <optional>
#include <utility>

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

bool PulseSoundDevice::isFatal(const std::string& initError)
{
    return initError.rfind(NoSoundCardMessage, 0) == 0;
}

std::string PulseSoundDevice::probeServer(const std::string& server)
{
    PulseContext pulse(server);
    const std::string reason = pulse.connect();
    return reason.empty() ? std::string() : NoServer + reason;
}

std::string PulseSoundDevice::outputError(const SoundDeviceInfo& device, const std::string& reason)
{
    return "Error opening output device '" + device.description
           + "' or no real time frequency support, try another device in settings menu\n" + reason;
}

std::string PulseSoundDevice::inputError(const SoundDeviceInfo& device, const std::string& reason)
{
    return "Error opening input device '" + device.description + "', try another device in settings menu\n"
           + reason;
}

std::string PulseSoundDevice::ensureConnected()
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

std::string PulseSoundDevice::refresh()
{
    if (std::string reason = ensureConnected(); !reason.empty())
        return reason;
    const std::string output = m_output >= 0 ? m_playDevices[size_t(m_output)].name : std::string();
    const std::string input = m_input >= 0 ? m_recordDevices[size_t(m_input)].name : std::string();
    // Whatever the server announced before the question is in the answer.
    const unsigned events = m_pulse.deviceEvents();
    std::vector<SoundDeviceInfo> play, record;
    if (std::string reason = m_pulse.listDevices(play, record); !reason.empty())
        return reason;
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

std::string PulseSoundDevice::refreshDevices()
{
    Busy busy(*this);
    if (busy.refused())
        return BusyError;
    return refresh();
}

std::string PulseSoundDevice::initAudio()
{
    Busy busy(*this);
    if (busy.refused())
        return BusyError;
    const std::string fatal = std::string(NoSoundCardMessage) + "\n";
    if (std::string reason = ensureConnected(); !reason.empty())
        return fatal + NoServer + reason;
    if (std::string reason = refresh(); !reason.empty())
        return fatal + "The sound server did not list its devices: " + reason;
    if (m_playDevices.empty() && m_recordDevices.empty())
        return fatal + "No play device and no record device";
    if (m_playDevices.empty())
        return fatal + "No play device";
    if (m_recordDevices.empty())
        return fatal + "No record device";
    if (std::string error = openOutput(0); !error.empty())
        return error;
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

std::string PulseSoundDevice::openOutputDevice(int index)
{
    Busy busy(*this);
    if (busy.refused())
        return BusyError;
    return openOutput(index);
}

std::string PulseSoundDevice::openOutput(int index)
{
    if (index < 0 || index >= int(m_playDevices.size()))
        return "There is no play device number " + std::to_string(index);
    const SoundDeviceInfo device = m_playDevices[size_t(index)];
    std::string reason = ensureConnected();
    if (reason.empty())
        reason = m_play.open(device.name);
    if (!reason.empty())
        return outputError(device, reason);
    m_output = index;
    return {};
}

std::string PulseSoundDevice::openInputDevice(int index)
{
    return openInputDevice(index, 1);
}

std::string PulseSoundDevice::openInputDevice(int index, int channels)
{
    Busy busy(*this);
    if (busy.refused())
        return BusyError;
    return openInput(index, channels);
}

std::string PulseSoundDevice::openInput(int index, int channels)
{
    if (index < 0 || index >= int(m_recordDevices.size()))
        return "There is no record device number " + std::to_string(index);
    const SoundDeviceInfo device = m_recordDevices[size_t(index)];
    std::string reason = ensureConnected();
    if (reason.empty())
        reason = m_record.open(device.name, channels);
    if (!reason.empty())
        return inputError(device, reason);
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
    const bool outputWorks = output && m_play.failure().empty();
    const bool inputWorks = input && !m_record.hasFailed();
    const int channels = m_record.channels();
    const std::vector<SoundDeviceInfo> play = m_playDevices;
    const std::vector<SoundDeviceInfo> record = m_recordDevices;

    // Reconnects after the server died; its streams are gone then.
    const std::string reason = refresh();
    if (!reason.empty() && m_pulse.isReady())
        return changes; // connected but not listed: the events stay unseen, tried again later
    changes.listed = play != m_playDevices || record != m_recordDevices;
    changes.changed = changes.listed;

    if (output) {
        if (!outputWorks || m_output < 0) {
            std::string why = reason;
            const int index = why.empty() ? indexOf(m_playDevices, output->name) : -1;
            if (why.empty())
                why = index < 0 ? GoneError : m_play.open(output->name);
            m_output = why.empty() ? index : -1;
            if (why.empty()) {
                changes.outputReopened = true;
            } else {
                m_play.close();
                changes.outputLost = outputError(*output, why);
            }
            changes.changed = true;
        }
    }
    if (input) {
        if (!inputWorks || m_input < 0) {
            std::string why = reason;
            const int index = why.empty() ? indexOf(m_recordDevices, input->name) : -1;
            if (why.empty())
                why = index < 0 ? GoneError : m_record.open(input->name, channels);
            m_input = why.empty() ? index : -1;
            if (!why.empty()) {
                m_record.close();
                changes.inputLost = inputError(*input, why);
            }
            changes.changed = true;
        }
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

std::string PulseSoundDevice::PlayLoop(const int16_t* table, int rate)
{
    if (m_busy)
        return BusyError;
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

RecordResult PulseSoundDevice::RecordBlock(int16_t* buffer, RecordWaiter& waiter, std::string* error)
{
    // A block is only worth anything while the tone it measures plays: a
    // play device that has gone (unplugged, its module unloaded) fails the
    // block too, before or after it is recorded.
    auto playFailed = [&] {
        if (!m_play.isOpen())
            return false;
        const std::string reason = m_play.failure();
        if (reason.empty())
            return false;
        if (error)
            *error = "The play device failed: " + reason;
        return true;
    };
    if (playFailed())
        return RecordResult::Failed;
    const RecordResult result = recordSamples(buffer, RecordSamples, waiter, error);
    if (result == RecordResult::Complete && playFailed())
        return RecordResult::Failed;
    return result;
}

RecordResult PulseSoundDevice::recordSamples(int16_t* buffer, int samples, RecordWaiter& waiter, std::string* error)
{
    if (m_busy) {
        if (error)
            *error = BusyError;
        return RecordResult::Failed;
    }
    return m_record.record(buffer, samples, waiter, error);
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

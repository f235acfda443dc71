#include "PulseSoundDevice.h"

#include <utility>

namespace {

constexpr const char* NoServer = "No sound server reachable: ";

} // namespace

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

std::string PulseSoundDevice::refreshDevices()
{
    std::string reason = ensureConnected();
    if (reason.empty())
        reason = m_pulse.listDevices(m_playDevices, m_recordDevices);
    return reason;
}

std::string PulseSoundDevice::initAudio()
{
    const std::string fatal = std::string(NoSoundCardMessage) + "\n";
    if (std::string reason = ensureConnected(); !reason.empty())
        return fatal + NoServer + reason;
    if (std::string reason = m_pulse.listDevices(m_playDevices, m_recordDevices); !reason.empty())
        return fatal + "The sound server did not list its devices: " + reason;
    if (m_playDevices.empty() && m_recordDevices.empty())
        return fatal + "No play device and no record device";
    if (m_playDevices.empty())
        return fatal + "No play device";
    if (m_recordDevices.empty())
        return fatal + "No record device";
    if (std::string error = openOutputDevice(0); !error.empty())
        return error;
    return openInputDevice(0);
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
    if (index < 0 || index >= int(m_playDevices.size()))
        return "There is no play device number " + std::to_string(index);
    const SoundDeviceInfo& device = m_playDevices[size_t(index)];
    std::string reason = ensureConnected();
    if (reason.empty())
        reason = m_play.open(device.name);
    if (!reason.empty())
        return "Error opening output device '" + device.description
               + "' or no real time frequency support, try another device in settings menu\n" + reason;
    m_output = index;
    return {};
}

std::string PulseSoundDevice::openInputDevice(int index)
{
    return openInputDevice(index, 1);
}

std::string PulseSoundDevice::openInputDevice(int index, int channels)
{
    if (index < 0 || index >= int(m_recordDevices.size()))
        return "There is no record device number " + std::to_string(index);
    const SoundDeviceInfo& device = m_recordDevices[size_t(index)];
    std::string reason = ensureConnected();
    if (reason.empty())
        reason = m_record.open(device.name, channels);
    if (!reason.empty())
        return "Error opening input device '" + device.description + "', try another device in settings menu\n"
               + reason;
    m_input = index;
    return {};
}

void PulseSoundDevice::closeAudio()
{
    m_play.close();
    m_record.close();
    m_pulse.disconnect();
    m_output = -1;
    m_input = -1;
}

void PulseSoundDevice::StopPlayback()
{
    if (m_play.isOpen())
        m_play.stop();
}

std::string PulseSoundDevice::PlayLoop(const int16_t* table, int rate)
{
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
    const RecordResult result = m_record.record(buffer, RecordSamples, waiter, error);
    if (result == RecordResult::Complete && playFailed())
        return RecordResult::Failed;
    return result;
}

RecordResult PulseSoundDevice::recordSamples(int16_t* buffer, int samples, RecordWaiter& waiter, std::string* error)
{
    return m_record.record(buffer, samples, waiter, error);
}

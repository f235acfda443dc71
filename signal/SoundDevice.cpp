#include "signal/SoundDevice.h"

namespace audimera {

using audimera::Error;
using audimera::Status;

Status SoundDevice::initAudio()
{
    if (Status lists = requireDevices(playDevices(), recordDevices()); !lists)
        return lists;
    if (Status output = openOutputDevice(0); !output)
        return output;
    return openInputDevice(0);
}

Error SoundDevice::noSoundCard(const std::string& cause)
{
    return Error::fatalError(std::string(NoSoundCardMessage) + "\n" + cause);
}

Status SoundDevice::requireDevices(const std::vector<SoundDeviceInfo>& play, const std::vector<SoundDeviceInfo>& record)
{
    if (play.empty() && record.empty())
        return noSoundCard("No play device and no record device");
    if (play.empty())
        return noSoundCard("No play device");
    if (record.empty())
        return noSoundCard("No record device");
    return {};
}

std::string SoundDevice::rateNote(int outputRate, int inputRate)
{
    const bool output = outputRate > 0 && outputRate != SampleRate;
    const bool input = inputRate > 0 && inputRate != SampleRate;
    const std::string hz = " Hz";
    const std::string measured = std::to_string(SampleRate) + hz;
    if (output && input) {
        const std::string rates = outputRate == inputRate
                                      ? "The play and record devices run at " + std::to_string(outputRate) + hz
                                      : "The play device runs at " + std::to_string(outputRate)
                                            + " Hz and the record device at " + std::to_string(inputRate) + hz;
        return rates + ": Audimera converts to and from " + measured;
    }
    if (output)
        return "The play device runs at " + std::to_string(outputRate) + hz
               + ": Audimera converts its output to that rate";
    if (input)
        return "The record device runs at " + std::to_string(inputRate) + hz + ": Audimera converts it to "
               + measured;
    return {};
}

Status SoundDevice::checkRequest(const DuplexRequest& request, int rate)
{
    if (request.rate != rate)
        return Error{"The sweep runs at " + std::to_string(request.rate) + " Hz but the sound devices at "
                     + std::to_string(rate) + " Hz"};
    if (request.playFrames > 0 && !request.play)
        return Error{"Nothing to play"};
    if (request.recordFrames == 0)
        return Error{"Nothing to record"};
    if (request.recordChannels != 1 && request.recordChannels != 2)
        return Error{"A recording has 1 or 2 channels, not " + std::to_string(request.recordChannels)};
    return {};
}

audimera::Result<Recorded> SoundDevice::playAndRecord(const DuplexRequest& request, std::vector<float>& recorded,
                                                      RecordWaiter& waiter)
{
    (void)request;
    (void)recorded;
    (void)waiter;
    return audimera::Error{"This sound device cannot play and record a sweep at once", false};
}

} // namespace audimera

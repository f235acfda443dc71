#include "devices/SoundDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

audimera::Status SoundDevice::startCapture(RecordChannel channel)
{
    (void)channel;
    return audimera::Error::of(audimera::Failure::Device, "This sound device cannot record without end");
}

audimera::Result<CaptureRead> SoundDevice::readCapture(std::vector<float>& out)
{
    (void)out;
    return audimera::Error::of(audimera::Failure::Device, "This sound device cannot record without end");
}

audimera::Status SoundDevice::playPeriod(const std::vector<float>& period)
{
    (void)period;
    return audimera::Error::of(audimera::Failure::Device, "This sound device cannot loop a long signal");
}

audimera::Status SoundDevice::setRecordInput(RecordChannel channel)
{
    if (channel == RecordChannel::Mix)
        return {};
    return audimera::Error{"This record device cannot record one input alone"};
}

InputLevels InputLevels::measure(const float* stereo, std::size_t frames)
{
    double sum[2] = {0.0, 0.0};
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c)
            sum[c] += double(stereo[2 * i + c]) * double(stereo[2 * i + c]);
    const auto db = [frames](double energy) {
        return frames == 0 || energy <= 0.0 ? -400.0 : 10.0 * std::log10(energy / double(frames));
    };
    return {true, db(sum[0]), db(sum[1])};
}

std::string InputLevels::note(RecordChannel channel) const
{
    if (!known)
        return {};
    const bool left = leftDb > rightDb;
    const double gap = std::min(std::abs(leftDb - rightDb), 999.0);
    if (gap <= SilentInputDb || channel == (left ? RecordChannel::Left : RecordChannel::Right))
        return {};
    char quieter[40];
    if (std::min(leftDb, rightDb) < -300.0) // digital silence
        std::snprintf(quieter, sizeof quieter, "silent");
    else
        std::snprintf(quieter, sizeof quieter, "%.0f dB quieter", gap);
    char text[200];
    std::snprintf(text, sizeof text,
                  "The sound is on the %s input; the %s one is %s: choose Settings > Record Channel > %s",
                  left ? "left" : "right", left ? "right" : "left", quieter, left ? "Left" : "Right");
    return text;
}

} // namespace audimera

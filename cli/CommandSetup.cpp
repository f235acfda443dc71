#include "cli/CommandSetup.h"

#include "cli/ExitCode.h"
#include "curves/CurveFile.h"
#include "curves/DataFolder.h"
#include "devices/PulseSoundDevice.h"
#include "devices/SimulatedSoundCard.h"
#include "devices/SoundChain.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <ostream>
#include <vector>

namespace audimera {

namespace MeasureCommand {

namespace {

bool isIndex(const std::string& s)
{
    return !s.empty() && s.size() < 4 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The entry of devices that which names (an index or a device name).
int findDevice(const std::vector<SoundDeviceInfo>& devices, const std::string& which)
{
    if (isIndex(which)) {
        const int i = std::stoi(which);
        return i < static_cast<int>(devices.size()) ? i : -1;
    }
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == which)
            return static_cast<int>(i);
    return -1;
}

} // namespace

std::unique_ptr<SoundDevice> openDevices(const DeviceChoice& o, std::ostream& err, int& code)
{
    code = Measured;
    if (o.simulated) {
        std::string error;
        std::optional<SoundChain> chain = SoundChain::parse(o.chain, error);
        if (!chain) {
            err << "audimera-measure: " << error << '\n';
            code = BadUsage;
            return nullptr;
        }
        auto card = std::make_unique<SimulatedSoundCard>();
        (void)card->initAudio(); // opens its one device of each kind, which cannot fail
        card->setChain(std::move(*chain));
        return card;
    }
    auto pulse = std::make_unique<PulseSoundDevice>();
    if (const audimera::Status started = pulse->initAudio(); !started) {
        err << started.message() << '\n';
        code = DeviceFailure;
        return nullptr;
    }
    struct Pick {
        const std::string& which;
        bool play;
    };
    for (const Pick pick : {Pick{o.play, true}, Pick{o.record, false}}) {
        if (pick.which.empty())
            continue;
        const auto devices = pick.play ? pulse->playDevices() : pulse->recordDevices();
        const int index = findDevice(devices, pick.which);
        if (index < 0) {
            err << "audimera-measure: no " << (pick.play ? "play" : "record") << " device '" << pick.which
                << "'; see 'audimera-measure devices'\n";
            code = BadUsage;
            return nullptr;
        }
        const audimera::Status opened = pick.play ? pulse->openOutputDevice(index) : pulse->openInputDevice(index);
        if (!opened) {
            err << opened.message() << '\n';
            code = DeviceFailure;
            return nullptr;
        }
    }
    return pulse;
}

bool parseNumber(const std::string& text, double& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    // One '+' and no sign after it: "+-5" is no number.
    if (first != last && *first == '+' && ++first != last && (*first == '-' || *first == '+'))
        return false;
    const auto [end, ec] = std::from_chars(first, last, value);
    return !text.empty() && ec == std::errc() && end == last && std::isfinite(value);
}

bool takeValue(const std::vector<std::string>& args, std::size_t& i, std::string& into)
{
    if (i + 1 >= args.size())
        return false;
    into = args[++i];
    return !into.empty();
}

std::string parseSetupOption(const std::vector<std::string>& args, std::size_t& i, DeviceChoice& devices,
                             CorrectionChoice& corrections)
{
    const std::string& a = args[i];
    auto value = [&](std::string& into) { return takeValue(args, i, into); };
    if (a == "--play") {
        if (!value(devices.play))
            return "--play needs a device";
    } else if (a == "--record") {
        if (!value(devices.record))
            return "--record needs a device";
    } else if (a == "--channel") {
        std::string v;
        if (!value(v) || (v != "mix" && v != "left" && v != "right"))
            return "--channel must be mix, left or right";
        devices.channel = v == "left" ? RecordChannel::Left : v == "right" ? RecordChannel::Right : RecordChannel::Mix;
    } else if (a == "--simulate") {
        if (i + 1 >= args.size())
            return "--simulate needs a chain (\"\" for a perfect loopback)";
        devices.chain = args[++i];
        devices.simulated = true;
    } else if (a == "--correct-spl") {
        corrections.spl = true;
    } else if (a == "--correct-soundcard") {
        corrections.soundCard = true;
    } else if (a == "--correct-user") {
        if (!value(corrections.user))
            return "--correct-user needs a curve file";
    } else {
        return "-";
    }
    return {};
}

audimera::Status loadCorrections(const CorrectionChoice& choice, CorrectionTable& table, std::string& notes)
{
    struct Correction {
        bool wanted;
        int column;
        std::string file;
    };
    for (const Correction& c : {Correction{choice.spl, 0, CorrectionTable::SplCurveFile},
                                Correction{choice.soundCard, 1, CorrectionTable::SoundCardFile},
                                Correction{!choice.user.empty(), 2, choice.user}}) {
        if (!c.wanted)
            continue;
        if (const audimera::Status loaded = table.load(c.column, c.file); !loaded)
            return loaded;
        table.enabled[c.column] = true;
        if (const auto at = table.nonFiniteSumAt())
            return audimera::Error{CorrectionTable::nonFiniteSumMessage(*at)};
        if (const auto& sensitivity = table.sensitivity(c.column)) {
            char number[32];
            const auto [end, ec] = std::to_chars(number, number + sizeof number, sensitivity->value);
            notes += "'" + c.file + "': sensitivity factor " + std::string(number, ec == std::errc() ? end : number)
                     + (sensitivity->unit.empty() ? "" : " " + sensitivity->unit) + "\n";
        }
    }
    return {};
}

std::vector<std::string> correctionInputs(const CorrectionChoice& choice)
{
    const std::string folder = CorrectionTable().dataFolder();
    std::vector<std::string> inputs;
    if (choice.spl)
        inputs.push_back(DataFolder::locate(CorrectionTable::SplCurveFile, folder));
    if (choice.soundCard)
        inputs.push_back(DataFolder::locate(CorrectionTable::SoundCardFile, folder));
    if (!choice.user.empty())
        inputs.push_back(DataFolder::locate(choice.user, folder));
    return inputs;
}

int checkOutputs(const std::vector<std::string>& inputs, const std::vector<OutputFile>& outputs, std::ostream& err)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const OutputFile& o = outputs[i];
        if (o.path.empty())
            continue;
        for (const std::string& input : inputs) {
            if (CurveFile::sameFile(o.path, input)) {
                err << "audimera-measure: " << o.option << " '" << o.path << "' is the same file as the input '"
                    << input << "'; nothing was measured or written\n";
                return BadUsage;
            }
        }
        for (std::size_t k = 0; k < i; ++k) {
            if (!outputs[k].path.empty() && CurveFile::sameFile(o.path, outputs[k].path)) {
                err << "audimera-measure: " << outputs[k].option << " '" << outputs[k].path << "' and " << o.option
                    << " '" << o.path << "' are the same file; nothing was measured or written\n";
                return BadUsage;
            }
        }
    }
    for (const OutputFile& o : outputs) {
        if (o.path.empty())
            continue;
        if (const audimera::Status writable = CurveFile::checkWritable(o.path); !writable) {
            err << CurveFile::saveError(o.path, writable.message()) << '\n';
            return FileError;
        }
    }
    return Measured;
}

int writeOutputs(const std::vector<PendingFile>& files, std::ostream& err)
{
    std::vector<CurveFile::FileText> texts;
    for (const PendingFile& f : files)
        texts.push_back({f.path, f.text});
    std::size_t failed = 0;
    if (const audimera::Status written = CurveFile::writeAll(texts, &failed); !written) {
        err << CurveFile::saveError(failed < files.size() ? files[failed].path : std::string(), written.message())
            << '\n';
        return FileError;
    }
    for (const PendingFile& f : files)
        err << f.said << '\n';
    return Measured;
}

std::string pngBytes(const QImage& image, std::string& error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (image.isNull() || !writer.write(image)) {
        error = image.isNull() ? "invalid image size" : writer.errorString().toStdString();
        return {};
    }
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace MeasureCommand

} // namespace audimera

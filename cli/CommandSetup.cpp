#include "cli/CommandSetup.h"

#include "cli/ExitCode.h"
#include "curves/CurveFile.h"
#include "curves/DataFolder.h"
#include "devices/PulseSoundDevice.h"
#include "devices/SimulatedSoundCard.h"
#include "devices/SoundChain.h"
#include "display/models/ResponseImage.h"

#include <QImage>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>
#include <ostream>
#include <thread>
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

Result<std::unique_ptr<SoundDevice>> openDevices(const DeviceChoice& o)
{
    if (o.simulated) {
        std::string error;
        std::optional<SoundChain> chain = SoundChain::parse(o.chain, error);
        if (!chain)
            return Error::of(Failure::BadInput, "audimera-measure: " + error);
        auto card = std::make_unique<SimulatedSoundCard>();
        (void)card->initAudio(); // opens its one device of each kind, which cannot fail
        card->setChain(std::move(*chain));
        return std::unique_ptr<SoundDevice>(std::move(card));
    }
    auto pulse = std::make_unique<PulseSoundDevice>();
    if (const Status started = pulse->initAudio(); !started)
        return Error::of(Failure::Device, started.message());
    struct Pick {
        const std::string& which;
        bool play;
    };
    for (const Pick pick : {Pick{o.play, true}, Pick{o.record, false}}) {
        if (pick.which.empty())
            continue;
        const auto devices = pick.play ? pulse->playDevices() : pulse->recordDevices();
        const int index = findDevice(devices, pick.which);
        if (index < 0)
            return Error::of(Failure::BadInput, std::string("audimera-measure: no ") + (pick.play ? "play" : "record")
                                                    + " device '" + pick.which + "'; see 'audimera-measure devices'");
        const Status opened = pick.play ? pulse->openOutputDevice(index) : pulse->openInputDevice(index);
        if (!opened)
            return Error::of(Failure::Device, opened.message());
    }
    return std::unique_ptr<SoundDevice>(std::move(pulse));
}

void ConsoleHost::sleepMs(int ms)
{
    if (m_realTime)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

MessageAnswer ConsoleHost::message(std::string_view text, MessageIcon, MessageButtons buttons)
{
    std::string line(text);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    m_err << line << '\n';
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    m_err << (m_yes ? "Continuing (--yes)." : "Not continuing; give --yes to measure anyway.") << '\n';
    return m_yes ? MessageAnswer::Yes : MessageAnswer::No;
}

int report(const Status& failed, std::ostream& err)
{
    err << failed.message() << '\n';
    return exitCodeFor(failed);
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

std::optional<Status> parseSetupOption(const std::vector<std::string>& args, std::size_t& i,
                                       DeviceChoice& devices, CorrectionChoice& corrections)
{
    const std::string& a = args[i];
    auto value = [&](std::string& into) { return takeValue(args, i, into); };
    auto bad = [](const char* what) { return Error::of(Failure::BadInput, what); };
    if (a == "--play") {
        if (!value(devices.play))
            return bad("--play needs a device");
    } else if (a == "--record") {
        if (!value(devices.record))
            return bad("--record needs a device");
    } else if (a == "--channel") {
        std::string v;
        if (!value(v) || (v != "mix" && v != "left" && v != "right"))
            return bad("--channel must be mix, left or right");
        devices.channel = v == "left" ? RecordChannel::Left : v == "right" ? RecordChannel::Right : RecordChannel::Mix;
    } else if (a == "--simulate") {
        if (i + 1 >= args.size())
            return bad("--simulate needs a chain (\"\" for a perfect loopback)");
        devices.chain = args[++i];
        devices.simulated = true;
    } else if (a == "--correct-spl") {
        corrections.spl = true;
    } else if (a == "--correct-soundcard") {
        corrections.soundCard = true;
    } else if (a == "--correct-user") {
        if (!value(corrections.user))
            return bad("--correct-user needs a curve file");
    } else {
        return std::nullopt;
    }
    return Status();
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
        if (const Status loaded = table.load(c.column, c.file); !loaded)
            return Error::of(Failure::File, loaded.message());
        table.enabled[c.column] = true;
        if (const auto at = table.nonFiniteSumAt())
            return Error::of(Failure::File, CorrectionTable::nonFiniteSumMessage(*at));
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

Status checkOutputs(const std::vector<std::string>& inputs, const std::vector<OutputFile>& outputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const OutputFile& o = outputs[i];
        if (o.path.empty())
            continue;
        for (const std::string& input : inputs) {
            if (CurveFile::sameFile(o.path, input))
                return Error::of(Failure::BadInput, "audimera-measure: " + o.option + " '" + o.path
                                                        + "' is the same file as the input '" + input
                                                        + "'; nothing was measured or written");
        }
        for (std::size_t k = 0; k < i; ++k) {
            if (!outputs[k].path.empty() && CurveFile::sameFile(o.path, outputs[k].path))
                return Error::of(Failure::BadInput, "audimera-measure: " + outputs[k].option + " '"
                                                        + outputs[k].path + "' and " + o.option + " '" + o.path
                                                        + "' are the same file; nothing was measured or written");
        }
    }
    for (const OutputFile& o : outputs) {
        if (o.path.empty())
            continue;
        if (const Status writable = CurveFile::checkWritable(o.path); !writable)
            return Error::of(Failure::File, CurveFile::saveError(o.path, writable.message()));
    }
    return {};
}

Status writeOutputs(const std::vector<PendingFile>& files, std::ostream& err)
{
    std::vector<CurveFile::FileText> texts;
    for (const PendingFile& f : files)
        texts.push_back({f.path, f.text});
    std::size_t failed = 0;
    if (const Status written = CurveFile::writeAll(texts, &failed); !written)
        return Error::of(Failure::File, CurveFile::saveError(failed < files.size() ? files[failed].path : std::string(),
                                                             written.message()));
    for (const PendingFile& f : files)
        err << f.said << '\n';
    return {};
}

Result<std::string> pngBytes(const QImage& image)
{
    return ResponseImage::pngBytes(image);
}

} // namespace MeasureCommand

} // namespace audimera

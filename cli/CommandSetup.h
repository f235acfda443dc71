// What the measuring commands of audimera-measure set up before they
// measure: the sound devices (the simulated card with a chain, or the sound
// server's devices, named by their entry in 'audimera-measure devices' or by
// their name, the server's default when not named) and the correction
// curves. Problems come back as failures whose kind gives the exit code
// (cli/ExitCode.h) and whose text the command writes to the error stream.
#pragma once

#include "common/Result.h"
#include "engine/CorrectionTable.h"
#include "engine/Host.h"
#include "devices/SoundDevice.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QImage;

namespace audimera {

namespace MeasureCommand {

struct DeviceChoice {
    bool simulated = false;
    std::string chain;  // of the simulated card
    std::string play;   // empty: the default
    std::string record;
    // --channel: the record input measured (Mix: both, the default).
    RecordChannel channel = RecordChannel::Mix;
};

// Opens the devices chosen. Fails with BadInput (a bad chain, an unknown
// device) or Device, the text as the command prints it.
Result<std::unique_ptr<SoundDevice>> openDevices(const DeviceChoice& choice);

// The host of a command's runs: messages as text on the error stream, the
// low-signal question answered by yes (--yes) and said so. sleepMs() sleeps
// on a real device only (realTime); the simulated card's time is not real.
// yield() has no events to process.
class ConsoleHost : public Host {
public:
    ConsoleHost(std::ostream& err, bool yes, bool realTime) : m_err(err), m_yes(yes), m_realTime(realTime) {}

    void yield() override {}
    void sleepMs(int ms) override;
    MessageAnswer message(std::string_view text, MessageIcon, MessageButtons buttons) override;

private:
    std::ostream& m_err;
    bool m_yes;
    bool m_realTime;
};

// Writes failed's text as a line to err and returns its exit code.
int report(const Status& failed, std::ostream& err);

struct CorrectionChoice {
    bool spl = false;       // CorrectionTable::SplCurveFile
    bool soundCard = false; // CorrectionTable::SoundCardFile
    std::string user;       // empty: none
};

// A number as the options take it: "." as the decimal point, an optional
// leading '+', finite.
bool parseNumber(const std::string& text, double& value);

// The value of the option at args[i] into into, moving i past it. An empty
// value counts as missing (an empty file name or device would otherwise be
// taken as "not given"): false then, and when there is none.
bool takeValue(const std::vector<std::string>& args, std::size_t& i, std::string& into);

// Reads the option at args[i] when it is one of the devices' (--play,
// --record, --channel, --simulate) or the corrections' (--correct-spl,
// --correct-soundcard, --correct-user), moving i past its value. Nothing
// when it is neither; else success, or a BadInput failure saying what is
// wrong.
std::optional<Status> parseSetupOption(const std::vector<std::string>& args, std::size_t& i,
                                       DeviceChoice& devices, CorrectionChoice& corrections);

// Loads the chosen curves into table and enables them; stops at the first
// that fails and returns its load error (kind File). notes gets one line
// for each loaded file that states a sensitivity factor (which leaves
// relative curves as they are), with "." decimals.
audimera::Status loadCorrections(const CorrectionChoice& choice, CorrectionTable& table, std::string& notes);

// The correction files choice reads, as the table finds them.
std::vector<std::string> correctionInputs(const CorrectionChoice& choice);

// A file a command writes: the option that names it and its path.
struct OutputFile {
    std::string option; // "--out", "--png", ...
    std::string path;
};

// Checked before anything is measured or written: no output is the same
// file as an input or as another output (CurveFile::sameFile), else a
// BadInput failure saying so; every output can be written
// (CurveFile::checkWritable), else "Error saving file ..." of kind File.
// Outputs with an empty path are left out.
Status checkOutputs(const std::vector<std::string>& inputs, const std::vector<OutputFile>& outputs);

// A file ready to be written at the end of a command, and the line said
// once it is.
struct PendingFile {
    std::string path;
    std::string text;
    std::string said;
};

// Writes all the files or none (CurveFile::writeAll), then says each one's
// line on err; fails (kind File) with "Error saving file '<path>' :
// <reason>", having said nothing.
Status writeOutputs(const std::vector<PendingFile>& files, std::ostream& err);

// An image's PNG bytes; the failure (kind File) says why it cannot be
// encoded.
Result<std::string> pngBytes(const QImage& image);

} // namespace MeasureCommand

} // namespace audimera

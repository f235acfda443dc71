// What the measuring commands of audimera-measure set up before they
// measure: the sound devices (the simulated card with a chain, or the sound
// server's devices, named by their entry in 'audimera-measure devices' or by
// their name, the server's default when not named) and the correction
// curves. Problems are written to the error stream as text.
#pragma once

#include "engine/CorrectionTable.h"
#include "devices/SoundDevice.h"

#include <iosfwd>
#include <memory>
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

// Opens the devices chosen; on failure returns null with code set to
// BadUsage (a bad chain, an unknown device) or DeviceFailure, else Measured.
std::unique_ptr<SoundDevice> openDevices(const DeviceChoice& choice, std::ostream& err, int& code);

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
// --record, --simulate) or the corrections' (--correct-spl,
// --correct-soundcard, --correct-user), moving i past its value. Returns
// "-" when it is neither, "" when it was read, else what is wrong.
std::string parseSetupOption(const std::vector<std::string>& args, std::size_t& i, DeviceChoice& devices,
                             CorrectionChoice& corrections);

// Loads the chosen curves into table and enables them; stops at the first
// that fails and returns its load error. notes gets one line for each
// loaded file that states a sensitivity factor (which leaves relative
// curves as they are), with "." decimals.
audimera::Status loadCorrections(const CorrectionChoice& choice, CorrectionTable& table, std::string& notes);

// The correction files choice reads, as the table finds them.
std::vector<std::string> correctionInputs(const CorrectionChoice& choice);

// A file a command writes: the option that names it and its path.
struct OutputFile {
    std::string option; // "--out", "--png", ...
    std::string path;
};

// Checked before anything is measured or written: no output is the same
// file as an input or as another output (CurveFile::sameFile), else the
// problem goes to err and the result is BadUsage; every output can be
// written (CurveFile::checkWritable), else "Error saving file ..." and
// FileError. Measured when all is well. Outputs with an empty path are left
// out.
int checkOutputs(const std::vector<std::string>& inputs, const std::vector<OutputFile>& outputs, std::ostream& err);

// A file ready to be written at the end of a command, and the line said
// once it is.
struct PendingFile {
    std::string path;
    std::string text;
    std::string said;
};

// Writes all the files or none (CurveFile::writeAll), then says each one's
// line; on a failure "Error saving file '<path>' : <reason>" and FileError.
int writeOutputs(const std::vector<PendingFile>& files, std::ostream& err);

// An image's PNG bytes; empty, with error set, when it cannot be encoded.
std::string pngBytes(const QImage& image, std::string& error);

} // namespace MeasureCommand

} // namespace audimera

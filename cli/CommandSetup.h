// What the measuring commands of audimera-measure set up before they
// measure: the sound devices (the simulated card with a chain, or the sound
// server's devices, named by their entry in 'audimera-measure devices' or by
// their name, the server's default when not named) and the correction
// curves. Problems are written to the error stream as text.
#pragma once

#include "engine/CorrectionTable.h"
#include "signal/SoundDevice.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

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

} // namespace MeasureCommand

} // namespace audimera

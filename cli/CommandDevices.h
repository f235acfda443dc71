// The sound devices a command of audimera-measure measures with: the
// simulated card with a chain, or the sound server's devices, named by their
// entry in 'audimera-measure devices' or by their name (the server's default
// when not named). Problems are written to the error stream as text.
#pragma once

#include "signal/SoundDevice.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace audimera {

namespace MeasureCommand {

struct DeviceChoice {
    bool simulated = false;
    std::string chain;  // of the simulated card
    std::string play;   // empty: the default
    std::string record;
};

// Opens the devices chosen; on failure returns null with code set to
// BadUsage (a bad chain, an unknown device) or DeviceFailure, else Measured.
std::unique_ptr<SoundDevice> openDevices(const DeviceChoice& choice, std::ostream& err, int& code);

} // namespace MeasureCommand

} // namespace audimera

// audimera-measure room: the room figures (RoomAcoustics) of an impulse
// response read from a sound file, printed as a table (RoomReport) on
// standard output and on request written as CSV, with the time-frequency
// files (cli/TimeFrequencyOutputs.h) of the response opened through a
// session; messages go to the error stream.
#pragma once

#include "signal/RoomAcoustics.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

namespace MeasureCommand {

// Runs "room" with its arguments (args[0] is "room"); returns one of
// MeasureCommand's exit codes (cli/ExitCode.h). usage: the whole usage text,
// printed after a bad option.
int room(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);

// The usage text of the room command, for MeasureCommand::usage().
std::string roomUsage();

// The bands an option names: "octave" or "third"; nothing for anything else.
std::optional<RoomSettings::Bands> parseRoomBands(const std::string& text);

} // namespace MeasureCommand

} // namespace audimera

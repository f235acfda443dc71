// audimera-measure session: a session file (.audimera, engine/SessionFile)
// listed, taken apart into WAV and FRD files, or made from such files.
// Listings go to standard output, messages to the error stream.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace audimera {

namespace MeasureCommand {

// Runs "session" with its arguments (args[0] is "session"); returns one of
// MeasureCommand's exit codes (cli/ExitCode.h): 2 for bad usage or a
// refused session file (a newer schema, an archive over the limits), 5 for
// a file that cannot be read or written. usage: the whole usage text,
// printed after a bad option.
int session(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);

// The usage text of the session command, for MeasureCommand::usage().
std::string sessionUsage();

} // namespace MeasureCommand

} // namespace audimera

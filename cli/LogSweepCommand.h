// audimera-measure logsweep: the log sweep of a measurement session
// (MeasurementSession::runLogSweep) from the command line, on the sound
// server's devices or the simulated card; the curve to a file or standard
// output, the impulse response, distortion table, a picture and the
// time-frequency files (cli/TimeFrequencyOutputs.h) on request.
// Messages, progress and a summary go to the error stream.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace audimera {

namespace MeasureCommand {

// Runs "logsweep" with its arguments (args[0] is "logsweep"); returns one of
// MeasureCommand's exit codes (cli/ExitCode.h). usage: the whole usage text
// (MeasureCommand::usage()), printed after a bad option.
int logSweep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);

// The usage text of the logsweep command, for MeasureCommand::usage().
std::string logSweepUsage();

} // namespace MeasureCommand

} // namespace audimera

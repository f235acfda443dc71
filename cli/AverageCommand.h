// audimera-measure average and align: impulse responses read from sound
// files (curves/ImpulseFile), averaged by ResponseAverage into one written
// as WAV or FRD, or their delays against the first measured by
// TimeAlignment and printed. Results go to standard output, messages to the
// error stream.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace audimera {

namespace MeasureCommand {

// Run "average" or "align" with their arguments (args[0] is the verb);
// return one of MeasureCommand's exit codes (cli/ExitCode.h). usage: the
// whole usage text, printed after a bad option.
int average(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);
int align(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);

// The usage text of both, for MeasureCommand::usage().
std::string averageUsage();

} // namespace MeasureCommand

} // namespace audimera

// audimera-measure analyse, spl and generate: the live analyser and the
// sound level meter (MeasurementSession::runAnalyser) run for a given time
// on the record device, or the analyser's test signals played through the
// play device.
// - analyse: the fractional-octave band levels averaged over the run, as a
//   table on standard output or as CSV (frequency, level, peak);
// - spl: the meter's readings at the end of the run (the time-weighted
//   level, Leq, maximum, peak), or with --calibrate the offset that makes a
//   calibrator's tone read its level (MeasurementSession::measureCalibration);
// - generate: periodic pink or white noise, or a sine, for a time.
// Messages and a summary go to the error stream; exit codes as the other
// commands' (cli/ExitCode.h): a bad option 2, a device failure 3, no
// calibrator tone 4, a file that cannot be written 5.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace audimera {

namespace MeasureCommand {

// Run "analyse", "spl" or "generate" with their arguments (args[0] is the
// verb); return one of MeasureCommand's exit codes. usage: the whole usage
// text, printed after a bad option.
int analyse(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);
int spl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);
int generate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);

// The usage text of the three, for MeasureCommand::usage().
std::string analyseUsage();

} // namespace MeasureCommand

} // namespace audimera

// audimera-measure eq: designs a parametric equaliser for a measured
// response read from a curve or FRD file (EqDesign's fit toward a target
// over a range), prints the filters and the residual on standard output and
// on request writes the exports (EqExport: EqualizerAPO-style text, a
// CamillaDSP fragment, a PipeWire filter chain, a minimum-phase FIR as WAV)
// and the predicted response as FRD, all or none. Messages go to the error
// stream.
//
// Exit codes (cli/ExitCode.h): a trace or target the fit cannot use (too few
// points in the range, a range outside the trace, a value that is not a
// number, a target file that does not parse) is bad input, 2, as a bad
// option is; a file that cannot be read or written is a file error, 5.
// Nothing is written on any failure.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace audimera {

namespace MeasureCommand {

// Runs "eq" with its arguments (args[0] is "eq"); returns one of
// MeasureCommand's exit codes. usage: the whole usage text, printed after a
// bad option.
int eq(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage);

// The usage text of the eq command, for MeasureCommand::usage().
std::string eqUsage();

} // namespace MeasureCommand

} // namespace audimera

// audimera-measure: runs a sweep without windows, on the sound server's
// devices or on the simulated sound card: the program's own sweep, built
// from settings and run by a measurement session, its points kept in a
// measurement document of the command's own. Messages go to the error
// stream as text.
#pragma once

#include "cli/ExitCode.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace audimera {

namespace MeasureCommand {

// Runs the command with its arguments (without the program name).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string usage();

} // namespace MeasureCommand

} // namespace audimera

// Runs audimera-measure in the test's process and keeps what it said.
#pragma once

#include "cli/MeasureCommand.h"

#include <sstream>
#include <string>
#include <vector>

namespace audimera {

struct Outcome {
    int code;
    std::string out, err;
};

inline Outcome measure(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int code = MeasureCommand::run(args, out, err);
    return {code, out.str(), err.str()};
}

} // namespace audimera

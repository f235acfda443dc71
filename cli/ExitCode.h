// audimera-measure's exit codes, shared by its commands (sweep, logsweep)
// and their common setup; a header of its own so that none of them
// includes another's for it.
#pragma once

#include "common/Result.h"

namespace audimera {

namespace MeasureCommand {

enum ExitCode {
    Measured = 0,
    InstallProblem = 1, // Audidsp cannot be loaded
    BadUsage = 2,
    DeviceFailure = 3,
    LowSignal = 4,
    FileError = 5,
    Clipped = 6,     // logsweep: the recording reached full scale
    LostSamples = 7, // logsweep: the record device lost samples
};

// The exit code of a failure, by its kind: the one table of them.
constexpr ExitCode exitCodeFor(Failure kind)
{
    switch (kind) {
    case Failure::BadInput:
        return BadUsage;
    case Failure::File:
        return FileError;
    case Failure::Install:
        return InstallProblem;
    case Failure::LowSignal:
        return LowSignal;
    case Failure::Clipped:
        return Clipped;
    case Failure::LostSamples:
        return LostSamples;
    case Failure::Other:
    case Failure::Busy:
    case Failure::Device:
    case Failure::Cancelled:
        break;
    }
    return DeviceFailure;
}

// Measured for success, else the failure's code.
template <typename T>
constexpr int exitCodeFor(const Result<T>& result)
{
    return result ? Measured : exitCodeFor(result.kind());
}

} // namespace MeasureCommand

} // namespace audimera

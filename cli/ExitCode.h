// audimera-measure's exit codes, shared by its commands (sweep, logsweep)
// and their common setup; a header of its own so that none of them
// includes another's for it.
#pragma once

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

} // namespace MeasureCommand

} // namespace audimera

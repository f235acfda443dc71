// The log sweep's impulse response as a WAV file: mono, 32-bit float, at the
// measurement's rate, samples as the analysis gives them (a perfect
// loopback peaks at 1.0). libsndfile makes the bytes; they are saved by
// CurveFile's save rules (a read-only file refused, a failed save leaves an
// old file whole), so the window and the command write it alike.
//
// Thread-safe as CurveFile::writeText is.
#pragma once

#include "common/Result.h"

#include <string>
#include <vector>

namespace audimera {

namespace ImpulseFile {

// The WAV file's bytes; an error when libsndfile refuses (rate below 1...)
// or a sample is not a finite number.
audimera::Result<std::string> wavBytes(const std::vector<float>& samples, int rate);

// wavBytes() written to path.
audimera::Status writeWav(const std::string& path, const std::vector<float>& samples, int rate);

} // namespace ImpulseFile

} // namespace audimera

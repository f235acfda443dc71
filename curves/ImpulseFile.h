// Impulse responses as sound files. Written: the log sweep's as WAV, mono,
// 32-bit float, at the measurement's rate, samples as the analysis gives
// them (a perfect loopback peaks at 1.0); libsndfile makes the bytes, and
// they are saved by CurveFile's save rules (a read-only file refused, a
// failed save leaves an old file whole), so the window and the command
// write it alike. Read: any file libsndfile reads (WAV, FLAC, AIFF...), one
// channel of it, at its own rate.
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

// One channel of a sound file, as floats (full scale 1.0), at its rate.
struct Impulse {
    std::vector<float> samples;
    int rate = 0;
    int channels = 0; // the file's
};

// The longest response read: 2^25 frames (11.6 minutes at 48 kHz).
inline constexpr long long MaxFrames = 1LL << 25;

// Reads channel (from 0) of the sound file at path. Only a regular file is
// read (FieldReader::openRegular). Fails (kind File) when the file cannot
// be read or is no sound file, holds no samples or more than MaxFrames,
// has no such channel, or holds a value that is not a finite number.
audimera::Result<Impulse> read(const std::string& path, int channel = 0);

// read() on a sound file's bytes in memory (a member of a session file).
audimera::Result<Impulse> fromBytes(std::string bytes, int channel = 0);

} // namespace ImpulseFile

} // namespace audimera

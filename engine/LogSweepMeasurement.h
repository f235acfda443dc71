// The log-sweep measurement: one synchronized exponential sweep (LogSweep)
// played once while the record device captures, deconvolved into impulse
// responses, and read out as magnitude, phase and harmonic distortion at
// log-spaced frequencies. The command line and the window share it.
//
// Results, for the reported range [start, stop]:
// - Magnitude in dB re the played level (a perfect loopback reads 0 dB),
//   minus the enabled correction curves at each frequency; phase in degrees
//   wrapped to (-180, 180], after the delay found from the impulse
//   response (to a fraction of a sample) is removed. With a reference
//   channel the result is the other channel over the reference, and the
//   delay removed is that between the two.
// - The linear impulse response: half the way back to the 2nd harmonic's
//   response before the peak, the rest after it, optionally gated (gateMs
//   after the peak, half-Hann: 1 at the peak, 0 at the gate's end).
// - H2 to H5 in dB re the fundamental at the excitation frequency, and THD
//   in percent from those below half the rate. Each harmonic's window also
//   holds a little of the linear response (the sweep's own response there,
//   through the path; it matters in the lowest octave of short sweeps),
//   which is taken out before the level is read.
// Spectra come from the windowed responses, divided by the same window of
// the sweep's own response (so the method's small band-edge and
// approximation errors cancel), interpolated linearly between DFT bins and,
// with smoothing 1/N octave, averaged over [f 2^(-1/2N), f 2^(1/2N)]:
// magnitude by power, phase by the complex mean.
//
// Units: Hz, dB, degrees, samples at the measurement rate; recordings in
// float, full scale 1.0.
//
// Threads: an object is used by one thread at a time (the UI thread for
// run()); analyse() touches nothing but the object.
#pragma once

#include "curves/ExchangeFiles.h"
#include "engine/CorrectionTable.h"
#include "signal/LogSweep.h"
#include "signal/SoundDevice.h"
#include "signal/SweepDeconvolver.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

struct LogSweepSettings {
    enum class Reference { None, Left, Right };

    double start = 20;                            // the reported range, Hz
    double stop = 20000;
    std::size_t length = LogSweep::DefaultLength; // samples played
    double levelDb = -6;                          // the sweep's peak, dB re full scale
    // Which record channel is a direct loopback of the output; with one the
    // recording is stereo and the other channel is measured against it.
    Reference reference = Reference::None;
    // Without a reference: the input measured (Mix: the mean of both, the
    // documented behaviour). With one it must be Mix or the other input.
    RecordChannel channel = RecordChannel::Mix;
    double gateMs = 0;       // 0: no gate
    int smoothing = 0;       // 1/N octave: 0 (none), 1, 3, 6, 12, 24 or 48
    int pointsPerOctave = 48;
    // Subtracted from every magnitude with its flags as they are; none:
    // magnitudes are not corrected.
    const CorrectionTable* corrections = nullptr;

    static constexpr int MaxPointsPerOctave = 1000;
    static constexpr double MaxGateMs = 10000;
    // Recorded after the sweep's length: room for the devices' latency and
    // the tail of the response.
    static constexpr double TailSeconds = 0.4;

    // What is wrong with the settings (the sweep's own bounds included) at
    // rate Hz; success when nothing is.
    audimera::Status check(int rate) const;
    LogSweepShape shape(int rate) const { return {rate, length, start, stop, levelDb}; }
};

// Why a measurement gave no result.
enum class LogSweepProblem {
    None,
    BadSettings,
    Device,      // the device failed (opening, a vanished server...)
    LostSamples, // the device lost samples while recording
    Cancelled,   // the wait was given up (the user stopped)
    Clipped,     // the recording reached full scale
    NoSignal,    // no sweep came back above the noise
    NoReference, // the reference channel carries nothing
    TooLate,     // the sweep came back too late to be recorded whole
};

struct LogSweepResults {
    int rate = 0;
    std::vector<ResponsePoint> response;     // magnitude (corrected) and phase
    std::vector<DistortionPoint> distortion; // at the same frequencies
    // The linear impulse response, in the recording's units (a perfect
    // loopback gives a unit impulse), band-limited as the deconvolution
    // leaves it: a 4th-order high-pass at the range's start.
    std::vector<float> impulse;
    std::size_t impulsePeak = 0;             // index of its peak in impulse
    double delaySamples = 0;                 // removed from the phase
    double peakDb = 0;                       // the measured channel's recorded peak, dB re full scale
    double referencePeakDb = 0;              // the reference channel's, with one
    double impulseSnrDb = 0;                 // peak over the impulse response's noise floor
    bool clipped = false;                    // never set in a result that is returned
    // Without a reference: InputLevels::note() of the run (one input over
    // 30 dB quieter than the other, and not the one chosen); empty otherwise.
    std::string inputNote;

    double delaySeconds() const { return rate > 0 ? delaySamples / rate : 0; }
};

class LogSweepMeasurement {
public:
    static constexpr const char* ClippedMessage =
        "The recording clips (it reaches full scale): lower the sweep's level or the record level";
    static constexpr const char* NoSignalMessage =
        "No sweep came back: the recording holds nothing above its noise (check the connection, the record "
        "device and its level)";
    static constexpr const char* TooLateMessage =
        "The sweep came back too late to be recorded whole (the devices' latency is too long)";
    static constexpr const char* CancelledMessage = "The measurement was stopped";
    // A reference below this signal-to-noise ratio (dB, of its impulse
    // response) carries nothing; so does a measured channel.
    static constexpr double MinImpulseSnrDb = 20;
    // Samples at or above this magnitude count as clipped: the largest a
    // 16-bit converter delivers.
    static constexpr double ClipLevel = 32767.0 / 32768.0;

    // The message when the reference channel carries nothing.
    static std::string noReferenceMessage(LogSweepSettings::Reference reference);

    // The log-spaced frequencies of a result: start, stop and at least
    // pointsPerOctave per octave between, evenly in the logarithm.
    static std::vector<double> frequencies(double start, double stop, int pointsPerOctave);

    // Analyses a recording of sweep (frames frames of channels interleaved
    // floats: 1, or 2 with a reference) with settings. On failure problem
    // (when given) says which kind it is.
    audimera::Result<LogSweepResults> analyse(const LogSweep& sweep, const LogSweepSettings& settings,
                                              const float* recorded, std::size_t frames, int channels,
                                              LogSweepProblem* problem = nullptr);

    // The whole measurement on device: the sweep at the device's
    // duplexRate(), played and recorded (playAndRecord(), with waiter and
    // progress from 0 to 1), then analysed. On failure problem (when given)
    // says which kind it is. The recording of the last run stays available.
    audimera::Result<LogSweepResults> run(SoundDevice& device, const LogSweepSettings& settings, RecordWaiter& waiter,
                                          const std::function<void(double)>& progress = {},
                                          LogSweepProblem* problem = nullptr);

    const std::vector<float>& lastRecording() const { return m_recording; }

private:
    SweepDeconvolver& deconvolverFor(const LogSweep& sweep);

    std::unique_ptr<SweepDeconvolver> m_deconvolver;
    std::vector<float> m_recording;
    std::vector<double> m_response;
    std::vector<double> m_reference;
};

} // namespace audimera

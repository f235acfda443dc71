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
//   Which delay the phase is given relative to is the phase reference
//   (LogSweepSettings::PhaseRef): by default (Auto) the one at which the
//   response lines up best with its minimum-phase counterpart
//   (PhaseReference::minimumPhaseDelay), so a minimum-phase device shows
//   its own phase, or with a reference channel the reference's timing; Peak is the impulse response's peak (delaySamples, the
//   rule of earlier versions; a low-pass's peak comes later than its
//   sound); Reference is the reference channel's timing (no delay taken
//   out of measured over reference; without a reference channel, Auto);
//   Delay a fixed delay in ms after the sweep left (with a reference, after
//   the reference).
// - The linear impulse response: half the way back to the 2nd harmonic's
//   response before the peak, the rest after it, optionally gated: 1 from
//   the peak to gateMs after it, then falling to 0 over a half-Hann taper
//   of taperMs() (20 % of the gate unless set).
// - H2 to H5 in dB re the fundamental at the excitation frequency, those at
//   or below 20 kHz (ToneAnalysis::HarmonicLimitHz, as the narrow-band
//   detector) and below half the rate, and THD in percent from them where
//   all four are. Each harmonic's window also
//   holds a little of the linear response (the sweep's own response there,
//   through the path; it matters in the lowest octave of short sweeps),
//   which is taken out before the level is read.
// Spectra come from the windowed responses, divided by the same window of
// the sweep's own response (so the method's small band-edge and
// approximation errors cancel), interpolated linearly between DFT bins and,
// with smoothing 1/N octave, averaged over [f 2^(-1/2N), f 2^(1/2N)]:
// magnitude by power, phase by the complex mean.
//
// - The clock offset between play and record (ClockOffset, its sign and
//   method): estimated from the measured channel's response (taking the
//   device to be minimum phase apart from a delay) or, with a reference,
//   from the reference's (exact: a direct loopback is a pure delay). When
//   it is at least MinCorrectedPpm and twice its standard deviation, the
//   recording is put back on the play clock before everything above, so
//   magnitude, phase and harmonics are right. What is left of an offset
//   known to +-d ppm turns the phase by up to about 360 d 1e-6 L stop / 3
//   degrees within the range (L the sweep's rate constant in seconds, the
//   delay taken at the top of the range): 1.9 degrees for 1 ppm in the
//   default 6 s sweep to 20 kHz. So the phase is marked unreliable when that
//   bound, for three standard deviations, exceeds MaxPhaseErrorDegrees, or
//   when there is no estimate (too little of the range above the noise);
//   never with a reference, whose ratio cancels a clock both channels share.
//
// analyseImpulse() gives the same results (no harmonics, no clock offset)
// from an impulse response the user already has.
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
#include "devices/SoundDevice.h"
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
    // Samples played; 0: the power of two nearest lengthSeconds at the
    // device's rate, or with that 0 too, LogSweep::defaultLength() (2^18 at
    // 44.1 kHz). Resolved by lengthAt() and shape().
    std::size_t length = 0;
    double lengthSeconds = 0;
    double levelDb = -6;                          // the sweep's peak, dB re full scale
    // Which record channel is a direct loopback of the output; with one the
    // recording is stereo and the other channel is measured against it.
    Reference reference = Reference::None;
    // Without a reference: the input measured (Mix: the mean of both, the
    // documented behaviour). With one it must be Mix or the other input.
    RecordChannel channel = RecordChannel::Mix;
    double gateMs = 0;       // 0: no gate
    double gateTaperMs = -1; // the gate's taper after gateMs; negative: DefaultTaper of gateMs
    // The phase reference (see above) and, for Delay, its delay in ms.
    enum class PhaseRef { Auto, Peak, Reference, Delay };
    PhaseRef phaseRef = PhaseRef::Auto;
    double phaseDelayMs = 0;
    static constexpr double MaxPhaseDelayMs = 10000;
    int smoothing = 0;       // 1/N octave: 0 (none), 1, 3, 6, 12, 24 or 48
    int pointsPerOctave = 48;
    // Subtracted from every magnitude with its flags as they are; none:
    // magnitudes are not corrected.
    const CorrectionTable* corrections = nullptr;

    static constexpr int MaxPointsPerOctave = 1000;
    static constexpr double MaxGateMs = 10000;
    static constexpr double DefaultTaper = 0.2;
    double taperMs() const { return gateTaperMs < 0 ? DefaultTaper * gateMs : gateTaperMs; }
    // Recorded after the sweep's length: room for the devices' latency and
    // the tail of the response.
    static constexpr double TailSeconds = 0.4;

    // What is wrong with the settings (the sweep's own bounds included) at
    // rate Hz; success when nothing is.
    audimera::Status check(int rate) const;
    // What is wrong with those of them the analysis reads (the points per
    // octave, the smoothing, the gate and the phase reference's delay).
    audimera::Status checkAnalysis() const;
    std::size_t lengthAt(int rate) const
    {
        return length > 0 ? length : lengthSeconds > 0 ? LogSweep::lengthFor(lengthSeconds, rate)
                                                       : LogSweep::defaultLength(rate);
    }
    LogSweepShape shape(int rate) const { return {rate, lengthAt(rate), start, stop, levelDb}; }
};

struct LogSweepResults {
    int rate = 0;
    std::vector<ResponsePoint> response;     // magnitude (corrected) and phase
    std::vector<DistortionPoint> distortion; // at the same frequencies
    // The linear impulse response, in the recording's units, through the
    // sweep's band edges (LogSweep::bandEdgeDescription(): a perfect
    // loopback gives exactly their impulse response, LogSweep::
    // bandEdgeImpulse()).
    std::vector<float> impulse;
    std::size_t impulsePeak = 0;             // index of its peak in impulse
    // When impulse[0] was recorded: samples after the sweep's own timing (an
    // opened file: after its first sample).
    double impulseStartSamples = 0;
    double delaySamples = 0;                 // removed from the phase
    double peakDb = 0;                       // the measured channel's recorded peak, dB re full scale
    double referencePeakDb = 0;              // the reference channel's, with one
    double impulseSnrDb = 0;                 // peak over the impulse response's noise floor
    bool clipped = false;                    // never set in a result that is returned
    // The record clock's offset from the play clock, ppm (ClockOffset's
    // sign); none when it could not be estimated. Taken out of the
    // recording when at least MinCorrectedPpm.
    std::optional<double> clockOffsetPpm;
    double clockOffsetUncertaintyPpm = 0;    // one standard deviation
    bool clockOffsetFromReference = false;
    bool clockOffsetTakenOut = false;        // the analysis ran on the recording put back on the play clock
    // The phase cannot be trusted (the offset is not known well enough);
    // phaseNote says why.
    bool phaseUnreliable = false;
    std::string phaseNote;
    // Without a reference: InputLevels::note() of the run (one input over
    // 30 dB quieter than the other, and not the one chosen); empty otherwise.
    std::string inputNote;
    // The phase reference applied (the one asked for, or Peak where Auto
    // found too little above the noise or no line-up, Auto for Reference
    // without a reference channel, Reference for Auto with one: phaseRefNote says so; it also says when
    // Auto's delay is too uncertain, three standard deviations turning the
    // phase at the top of the range by over MaxPhaseErrorDegrees) and the
    // delay the phase is given relative to, samples after the sweep's own
    // timing (with a reference, after the reference's).
    LogSweepSettings::PhaseRef phaseRef = LogSweepSettings::PhaseRef::Peak;
    double phaseDelaySamples = 0;
    std::string phaseRefNote;

    double delaySeconds() const { return rate > 0 ? delaySamples / rate : 0; }
    double phaseDelaySeconds() const { return rate > 0 ? phaseDelaySamples / rate : 0; }
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
    static constexpr const char* StartedLateMessage =
        "The recording began after the sweep had started (the sound server played it ahead of the record device; "
        "on a PulseAudio null sink, load it with norewinds=1)";
    static constexpr const char* CancelledMessage = "The measurement was stopped";
    // A reference below this signal-to-noise ratio (dB, of its impulse
    // response) carries nothing; so does a measured channel.
    static constexpr double MinImpulseSnrDb = 20;
    // Samples at or above this magnitude count as clipped: the largest a
    // 16-bit converter delivers.
    static constexpr double ClipLevel = 32767.0 / 32768.0;
    // The fewest consecutive samples at the rails that make a recording
    // clipped (more where a full-scale sweep's crest at its lowest frequency
    // stays there longer).
    static constexpr std::size_t ClipRun = 2;
    // Clipping below the rails: samples within this fraction of the
    // recording's own peak count as at the peak, and flat tops there (runs
    // longer than a clean crest at the sweep's lowest frequency stays, see
    // analyse()), FlatTopSamples samples beyond that length in all, make it
    // clipped.
    static constexpr double FlatTopTolerance = 1e-6;
    static constexpr std::size_t FlatTopSamples = 8;
    // Clock offsets from this size up (and twice their standard deviation)
    // are taken out of the recording; beyond MaxClockOffsetPpm an estimate
    // is not believed. Below it, what is left turns the phase by under 1
    // degree in the default sweep, less than putting the recording on
    // another clock costs near half the rate (the interpolator's transition
    // band), and a device on the same clock through a filter estimates up to
    // about 0.06 ppm.
    static constexpr double MinCorrectedPpm = 0.5;
    static constexpr double MaxClockOffsetPpm = 1000;
    // The phase is unreliable when the offset's uncertainty (three standard
    // deviations) could turn it by more than this (see above).
    static constexpr double MaxPhaseErrorDegrees = 2;

    // "Clock offset: +50.00 ppm (+-0.01 ppm, ...)" or why there is none, for
    // the summary, the window and the FRD header; one line.
    static std::string clockOffsetSummary(const LogSweepResults& results);

    // "Phase reference: auto (best fit to the minimum phase), delay 14.9660
    // ms (660.00 samples)" plus phaseRefNote, for the summary and the FRD
    // header; one line.
    static std::string phaseReferenceSummary(const LogSweepResults& results);

    // The comment lines of a result's FRD file, the same from the window and
    // the command: the sweep (measured: the settings it was measured with),
    // the delay removed, the clock offset, the phase reference, the columns.
    // file: the impulse response file the results were read from, named on
    // the first line instead of the sweep; empty for a measurement.
    static std::vector<std::string> frdComments(const LogSweepResults& results, const LogSweepSettings& measured,
                                                const std::string& file = {});

    // The message when the reference channel carries nothing.
    static std::string noReferenceMessage(LogSweepSettings::Reference reference);

    // The log-spaced frequencies of a result: start, stop and at least
    // pointsPerOctave per octave between, evenly in the logarithm.
    static std::vector<double> frequencies(double start, double stop, int pointsPerOctave);

    // Analyses a recording of sweep (frames frames of channels interleaved
    // floats: 1, or 2 with a reference) with settings. A failure's kind:
    // BadInput (the settings), LowSignal (no sweep came back, the reference
    // carries nothing, too late), Clipped or LostSamples.
    audimera::Result<LogSweepResults> analyse(const LogSweep& sweep, const LogSweepSettings& settings,
                                              const float* recorded, std::size_t frames, int channels);

    // The same results from an impulse response the user has (response[0 ..
    // n), at rate Hz, full scale 1.0; a perfect path is a unit impulse):
    // the impulse is the segment from ImpulseLeadSeconds before the
    // response's start (the first sample within 20 dB of its peak) to its
    // end, gated alike; delaySamples is the peak's place from the first
    // sample; peakDb the peak in dB re 1.0; impulseSnrDb the peak over the
    // mean power of the response's last tenth (its first, where the peak
    // lies in the last), where Auto also reads the noise. Magnitude and
    // phase from the segment's spectrum as analyse() gives them; no
    // distortion, no clock offset. A range above half the rate ends there.
    // Fails (BadInput) for bad settings, a range wholly above half the
    // rate, an empty response or one without a clear start (the peak less
    // than MinImpulseSnrDb above that noise).
    static audimera::Result<LogSweepResults> analyseImpulse(const float* response, std::size_t n, int rate,
                                                            const LogSweepSettings& settings);
    static constexpr const char* EmptyImpulseMessage = "The impulse response is empty";
    static constexpr const char* NoClearStartMessage =
        "The impulse response has no clear start: nothing stands 20 dB above the rest of it";
    static constexpr double ImpulseLeadSeconds = 0.005;
    // The fewest samples the segment holds from the peak on (silence past
    // the response's end).
    static constexpr std::size_t MinImpulseAfter = 16;

    // The whole measurement on device: the sweep at the device's
    // duplexRate(), played and recorded (playAndRecord(), with waiter and
    // progress from 0 to 1), then analysed. A failure's kind: analyse()'s,
    // or Device, LostSamples, Cancelled (the waiter gave up). The recording
    // of the last run stays available.
    audimera::Result<LogSweepResults> run(SoundDevice& device, const LogSweepSettings& settings, RecordWaiter& waiter,
                                          const std::function<void(double)>& progress = {});

    const std::vector<float>& lastRecording() const { return m_recording; }
    // The whole deconvolved response of the measured channel from the last
    // analyse() that got as far (after a clock offset was taken out: that of
    // the recording put back on the play clock): ungated, circular,
    // SweepDeconvolver::responseLength(frames) samples, index 0 at the
    // sweep's own timing, the harmonics wrapped to its end. results.impulse
    // is the gated segment of it around the peak.
    const std::vector<double>& lastFullResponse() const { return m_response; }
    // How far after the sweep's own timing the loopback reference arrived
    // in lastFullResponse() (0 without one): where the streams happened to
    // start, which moves from run to run by a server block.
    std::ptrdiff_t lastReferenceLead() const { return m_referenceLead; }

private:
    SweepDeconvolver& deconvolverFor(const LogSweep& sweep);

    std::unique_ptr<SweepDeconvolver> m_deconvolver;
    std::vector<float> m_recording;
    std::vector<double> m_response;
    std::vector<double> m_reference;
    std::ptrdiff_t m_referenceLead = 0;
    std::vector<float> m_onPlayClock; // the recording put back on the play clock
    bool m_correcting = false;        // analysing m_onPlayClock
};

} // namespace audimera

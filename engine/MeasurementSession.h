// One measurement session: the document (traces, plot settings, the
// correction curves), the sound device it measures through, and every run
// on it, one at a time: the stepped sweep, the continuous signal and the
// log sweep. Whoever drives it (the main window's presenter, the Log Sweep
// window, the command line) reads its own controls or options into typed
// settings and gives the session commands; what the runs ask and report
// goes to one observer (SessionObserver), and whatever can fail answers
// with a Status whose error says its kind and the user's message.
//
// The measurement state the runs share (the flags, the calibration, the
// sample tables) is the session's own.
//
// UI thread only. The runs are sequential code that yields to the host at
// fixed points; handlers run inside those yields may give the session
// commands (stop() above all), and the run notices a stop at its next check.
#pragma once

#include "common/Result.h"
#include "devices/SoundDevice.h"
#include "engine/ContinuousSignal.h"
#include "engine/Host.h"
#include "engine/LiveAnalysis.h"
#include "engine/LogSweepMeasurement.h"
#include "engine/MeasurementDocument.h"
#include "engine/MeasurementList.h"
#include "engine/MeasurementState.h"
#include "engine/RunObserver.h"
#include "engine/SteppedSweep.h"
#include "signal/RoomAcoustics.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

// What a session asks of and reports to whoever shows it: the runs' own
// questions and reports (RunObserver), and the session's.
class SessionObserver : public RunObserver {
public:
    // A measurement of any kind started or ended: for the log sweep, just
    // after logSweeping() changed; a sweep or the signal may set its flag
    // only just after, so read the state later (the next turn of the event
    // loop).
    virtual void activityChanged() {}
};

// Which measurement a set of correction curves serves: the stepped sweep
// and the signal (the main window's boxes), or the log sweep (its window's
// own boxes, which may name another user file).
enum class CorrectionUse { Main, LogSweep };

// The last log sweep that gave a result: its results, the settings it was
// measured (or last analysed) with and its recording, which analysing it
// again reads. One opened from an impulse response file holds that
// response as its recording (one channel) and the file's path.
struct LogSweepRun {
    LogSweepResults results;
    LogSweepSettings settings;
    int channels = 1;
    std::vector<float> recording;
    std::string file; // empty for a measurement
    // The room parameters of its impulse response, once analysed
    // (MeasurementSession::analyseRoom); cleared whenever the results change.
    std::optional<RoomResults> room;
    // The measurement of measurements() these results show (0: none, or
    // deleted since).
    int measurement = 0;
};

class RecoveryWriter;

class MeasurementSession {
public:
    // All references must outlive the session.
    MeasurementSession(Host& host, SoundDevice& sound, MeasurementDocument& document);
    ~MeasurementSession();
    MeasurementSession(const MeasurementSession&) = delete;
    MeasurementSession& operator=(const MeasurementSession&) = delete;

    // Where the runs' questions and reports go; nullptr: nobody (the runs
    // take the questions' defaults).
    void setObserver(SessionObserver* observer);

    MeasurementDocument& document() { return m_document; }
    const MeasurementDocument& document() const { return m_document; }
    SoundDevice& sound() { return m_sound; }
    Host& host() { return m_host; }

    // Fills the white and pink noise tables (once, at start-up; the
    // pink table comes through Audidsp's LowPass44).
    void initialiseTables();

    // --- State.
    bool sweeping() const { return m_state.Running; }
    bool playing() const { return m_state.Playing; }
    bool logSweeping() const { return m_state.LogSweeping; }
    bool analysing() const { return m_analysing; }
    bool busy() const { return sweeping() || playing() || logSweeping() || analysing(); }
    // A reference level is held: the next sweep or signal measures no
    // calibration first.
    bool calibrated() const { return m_state.Calib > 0; }
    double calibration() const { return m_state.Calib; }
    double noise() const { return m_state.Noise; }
    double snr() const { return m_state.SNR; }
    // Hz: the point measured or the signal played.
    double frequency() const { return m_state.Frequency; }
    // The sweep's range as it runs: start (Hz) and stop (Hz, rounded).
    double sweepStart() const { return m_state.StartFreq; }
    int sweepStop() const { return m_state.StopFreq; }
    // The plan of the sweep, or the signal of the generator, chosen last.
    int choice() const { return m_state.GenIndex; }
    // The sample tables the runs play (read-only; tests and benchmarks).
    const std::vector<int16_t>& whiteNoiseTable() const { return m_state.WhiteNoiseBuffer; }
    const std::vector<int16_t>& pinkNoiseTable() const { return m_state.PinkNoiseBuffer; }

    // --- Stepped sweep and continuous signal.

    // A plan (the sweep) or a signal (the generator) was chosen: what the
    // play table holds is played afresh next time.
    void choose(int index);
    // What the play table holds is made again before it next plays.
    void playAfresh() { m_state.LastFreq = 0; }
    // The stepped sweep with settings, from its calibration to its end
    // (settings.plan is the choice from now on): success when its last
    // point was measured, else runOutcome() of how it ended (Cancelled when
    // stopped). What the user is to be told was told through the host.
    // Both refuse (Busy, nothing told) while the live analyser runs.
    Status runSweep(const SweepSettings& settings);
    // Starts the continuous signal: returns once it is stopped (Cancelled),
    // or ended itself. The observer's signalChoice() says what plays, asked
    // afresh whenever the signal is applied.
    Status runSignal(const SignalSettings& settings);
    // How the last sweep or signal ended, in the runs' own terms.
    RunEnd lastRunEnd() const { return m_runEnd; }
    // The frequency (Hz) of the signal, or of the point measured.
    void setFrequency(double hz) { m_state.Frequency = hz; }
    // Plays the observer's signal choice unless it plays already.
    void applySignal() { m_signal.ApplySignal(); }
    // The signal's calibration passes play: choices are only noted.
    bool signalCalibrating() const { return m_signal.calibrating(); }
    // Plays the signal's table at rate Hz without restarting it.
    void retuneSignal(int rate) { m_signal.retune(rate); }
    // Stops whatever runs (the sweep, the signal, a log sweep, the live
    // analyser, whose capture stops too): playback
    // stops at once, the runs end at their next check.
    void stop();
    // The next run calibrates again.
    void forgetCalibration() { m_state.Calib = 0; }

    // --- Log sweep.
    bool canStartLogSweep() const { return !busy(); }
    // One log sweep with settings on the session's device (its duplexRate()),
    // progress told from 0 to 1; settings.corrections unset takes the log
    // sweep's own curves. Refused while another measurement runs; stop()
    // cancels it. On success it becomes lastLogSweep(); a run that gives no
    // result leaves the last one as it was.
    Status runLogSweep(const LogSweepSettings& settings, const std::function<void(double)>& progress = {});
    const std::optional<LogSweepRun>& lastLogSweep() const { return m_logSweep; }
    // Analyses the last log sweep's recording again with what may change
    // after a measurement: the smoothing, the gate, the phase reference and
    // the corrections (those of settings; the sweep's own as measured). An
    // opened impulse response is analysed again as one.
    Status reanalyseLogSweep(const LogSweepSettings& settings);
    // Opens channel (from 0) of the impulse response file at path
    // (ImpulseFile::read) and analyses it with settings
    // (LogSweepMeasurement::analyseImpulse; settings.corrections unset takes
    // the log sweep's own curves). On success it becomes lastLogSweep(),
    // shown as a measured one; a failure (File: the file cannot be read;
    // BadInput: no response in it; Busy: a measurement runs) leaves the
    // last one as it was.
    Status openImpulseResponse(const std::string& path, int channel, const LogSweepSettings& settings);

    // --- Corrections: each use has its own curves and switches.
    CorrectionTable& corrections(CorrectionUse use);
    // Switches slot off, then loads path into it (left off: enableCorrection).
    Status loadCorrection(CorrectionUse use, int slot, const std::string& path);
    // Switches a loaded slot on; refused (left off) when the enabled curves
    // sum to a value that is not finite somewhere.
    Status enableCorrection(CorrectionUse use, int slot);
    void disableCorrection(CorrectionUse use, int slot);
    // The file slot was last loaded from (empty: none); after a session
    // opened, where its curve now comes from.
    std::string correctionPath(CorrectionUse use, int slot) const;

    // --- Traces of the response plot.
    // Adds points (ascending frequencies) as a new trace named name: at most
    // TraceStore::MaxPoints of them (evenly thinned, first and last kept).
    // Refused while a sweep adds to the newest trace, or with the
    // documented message when the plot holds its most traces.
    // scale: the level scale the session file notes for it (the log sweep
    // window's Add, the one caller, gives the default).
    static constexpr const char* SteppedSweepScale = "dB re the white-noise reference";
    static constexpr const char* LogSweepScale = "dB re the played level";
    Status addTrace(const std::vector<ResponsePoint>& points, const std::string& name,
                    const std::string& scale = LogSweepScale);
    // Reads a curve file (curve, FRD, CSV or calibration) as a new trace
    // named after the file. Points read before a failure stay as a trace.
    Status loadTrace(const std::string& path);
    // The newest trace to path: the curve file (levels only), FRD or CSV
    // (with the phase where one was measured, 0 elsewhere). Nothing for an
    // empty trace. The error is the documented "Error saving file" message.
    enum class TraceFormat { Curve, Frd, Csv };
    Status exportTrace(const std::string& path, TraceFormat format);
    void clearTraces();

    // --- Room acoustics of the last log sweep's impulse response (its
    // results' impulse, gated as they are): kept in lastLogSweep()->room.
    // Fails (Busy) without a log sweep or while one runs, else as
    // RoomAcoustics::analyse does (the results keep no room parameters).
    Status analyseRoom(const RoomSettings& settings);

    // --- Live analyser and sound level meter (engine/LiveAnalysis.h).
    // Captures the record device and analyses it until stop() (Cancelled)
    // or settings.seconds of audio (success), playing settings.signal
    // meanwhile; updates go to observer. Refused (Busy) while another
    // measurement runs; Device when the capture or the signal fails.
    Status runAnalyser(const LiveSettings& settings, LiveObserver& observer);
    // While it runs: new settings (a new transform, bands, averaging,
    // weighting, offset or signal take effect at the next update; any new
    // spectrum setting starts the average afresh, from the last transform's
    // worth of sound; settings the analyser cannot run leave the spectrum
    // as it is).
    void changeAnalyser(const LiveSettings& settings);
    // While it runs: forget the average (and the meter's Leq, maximum and
    // peak), or only the peak hold.
    void resetAnalyser();
    void resetAnalyserPeak();
    // Measures a calibrator's 1 kHz tone for seconds on the record device in
    // use (channel) and returns the offset that makes it read referenceDb
    // (the level of the 1 kHz third-octave band, unweighted). LowSignal
    // when the band does not hold the tone (less than 90 % of the power, or
    // below -80 dBFS); Busy, Device, Cancelled as runAnalyser.
    Result<double> measureCalibration(double referenceDb, double seconds, RecordChannel channel);

    // --- Measurements and session files (engine/MeasurementList.h,
    // engine/SessionFile.h). A log sweep that gives a result and an opened
    // impulse response are added to measurements() (named "Log sweep
    // HH:MM:SS"), with the devices, settings and full impulse response.
    MeasurementList& measurements() { return m_measurements; }
    const MeasurementList& measurements() const { return m_measurements; }
    // The traces' notes beside the documented plot (name, offset, shown,
    // level scale); index as the traces'.
    // Kept in step with the document's traces: a trace opened elsewhere (the
    // stepped sweep's) gets a note when next asked for (the stepped sweep's
    // scale when a sweep opened it); the points live in the document only.
    std::vector<SessionTrace>& traceNotes();
    // Everything a session file holds, as it stands.
    SessionData sessionData() const;
    // Saves sessionData() to path (SessionFile's rules); the work is saved.
    Status saveSession(const std::string& path);
    // Replaces traces, plot settings, corrections and measurements with the
    // file's (Busy while a measurement runs; the session unchanged on any
    // failure); returns what was skipped, one line each.
    Result<std::vector<std::string>> openSession(const std::string& path);
    // Where the session is written after every change, atomically (empty:
    // nowhere); the file is removed when the work is saved or cleared.
    void setRecoveryFile(const std::string& path);
    // Writes the recovery file now if anything changed since it was last
    // written (the runs call it when they end; the windows after an edit).
    void keepRecovery();
    // Returns once the recovery file holds what keepRecovery() last gave it
    // (the file is written on a thread of its own; the session's end waits
    // for it too).
    void flushRecovery();
    // Traces or measurements not saved in a session file since they changed.
    bool unsavedWork() const;

    // Shows measurement id as lastLogSweep(): its impulse response analysed
    // with settings as an opened one is (settings.corrections unset takes the
    // log sweep's own curves), its alignment applied to a Delay phase
    // reference. BadInput: no such measurement, or no response in it;
    // Busy while a measurement runs.
    Status showMeasurement(int id, const LogSweepSettings& settings);
    // Measurement id analysed the same way, for an overlay or a trace; the
    // session unchanged.
    Result<LogSweepResults> analyseMeasurement(int id, const LogSweepSettings& settings) const;
    // Adds the response of each of ids (analysed as above) to the response
    // plot as a trace named after the measurement; stops at the first that
    // fails (the documented message when the plot is full).
    Status addMeasurementTraces(const std::vector<int>& ids, const LogSweepSettings& settings);

    // Edits trace t's note: its name (also the picture legend's), offset and
    // whether it is drawn (the plot applies both when drawing; the stored
    // points never change). BadInput for no such trace or an offset that is
    // not finite.
    Status setTraceNote(int t, const SessionTrace& note);
    // Sets the offsets so that every trace reads 0 dB at hz (its levels
    // interpolated over log frequency). A trace that does not reach hz keeps
    // its offset and is named in the error (BadInput); the others are set.
    Status normaliseTraces(double hz);

    // Averages the traces (at least two; Rms or Db, as traces keep no phase
    // but the newest) into a new trace "Average of N traces (mode)": each as
    // drawn (its offset applied), read on the first one's frequencies where
    // all of them reach (levels interpolated over log frequency). Its level
    // scale is theirs when they share one. BadInput for fewer than two, no
    // common range or Vector; the plot's full message when it is.
    Status averageTraces(const std::vector<int>& traces, AverageMode mode);

    // The recovery file in the user's data folder ($XDG_DATA_HOME/audimera,
    // or ~/.local/share/audimera), and where start-up puts one that an exit
    // with unsaved work left behind, for File > Restore Last Session.
    static std::string recoveryPath();
    static std::string lastSessionPath();
    // At start-up: moves a recovery file left at path (recoveryPath(), or the
    // one this program claimed: RecoveryClaim) by an exit with unsaved work
    // to lastSessionPath(), replacing an older one; true when it did, so
    // there is a last session to restore.
    static bool takeLeftRecovery(const std::string& path = recoveryPath());

private:
    class Forwarder;

    Host& m_host;
    SoundDevice& m_sound;
    MeasurementDocument& m_document;
    MeasurementState m_state;
    std::unique_ptr<Forwarder> m_forwarder;
    SessionObserver* m_observer = nullptr;
    SteppedSweep m_sweep;
    ContinuousSignal m_signal;
    LogSweepMeasurement m_logSweepMeasurement;
    CorrectionTable m_logSweepCorrections;
    std::optional<LogSweepRun> m_logSweep;
    RoomAcoustics m_roomAcoustics;
    RunEnd m_runEnd = RunEnd::None;
    bool m_analysing = false;
    MeasurementList m_measurements;
    std::vector<SessionTrace> m_traceNotes;
    std::string m_recoveryFile;
    std::unique_ptr<RecoveryWriter> m_recovery;
    std::uint64_t m_savedChanges = 0, m_recoveredChanges = 0;
    std::uint64_t m_traceChanges = 0; // traces added, loaded, cleared, measured or opened
    // What the notes were when last saved and last written for recovery
    // (edited by the windows through traceNotes()).
    std::vector<SessionTrace> m_savedNotes, m_recoveredNotes;
    // The path and text of each loaded correction curve, per use and slot,
    // for the session file.
    struct CorrectionFile {
        std::string path, content;
    };
    std::array<std::array<CorrectionFile, CorrectionTable::Count>, 2> m_correctionFiles;
    // The text of a correction file as loaded (empty when it cannot be read).
    static std::string correctionText(const std::string& path);
    std::uint64_t changeCount() const { return m_measurements.changes() + m_traceChanges; }
    bool notesChanged(const std::vector<SessionTrace>& since) const;
    // New notes for traces opened since, with scale; notes past the count dropped.
    void syncTraceNotes(const std::string& scale = {});
    std::vector<SessionTrace> syncedNotes(const std::string& scale) const;
    Status putTrace(const std::vector<ResponsePoint>& points, const std::string& name);
    int addMeasurement(const std::string& kind, const std::vector<float>& impulse);
    // Measurement id's settings for analysing it: settings, its own
    // corrections table unless given, its alignment on a Delay reference.
    Result<const SessionMeasurement*> measurementFor(int id, LogSweepSettings& settings) const;
    void tracesChanged(const std::string& scale = {});
    // The notes' offsets and shown marks into the plot settings, which the
    // response plot draws with (defaults past the notes).
    void showTraceLooks();
    std::optional<LiveSettings> m_liveChange; // changeAnalyser(), taken at the next update
    bool m_liveReset = false, m_livePeakReset = false;
    void activityChanged();
};

} // namespace audimera

// The sweep's handlers, the controls they lock and restore, and what the
// runs ask of and report to the main window.
#include "ui/presenter/MainPresenter.h"

#include "ui/presenter/ControlNames.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace audimera {

namespace {
constexpr int AutoPlanCount = 4;
constexpr int SignalCount = 6;
} // namespace

MainPresenter::MainPresenter(Panel& panel, MeasurementSession& session, Displays& displays)
    : m_panel(panel),
      m_session(session),
      m_host(session.host()),
      m_sound(session.sound()),
      m_displays(displays),
      m_document(session.document())
{
    m_status.reserve(400);
    m_distortionText.reserve(64);
    m_session.setObserver(this);
}

MainPresenter::~MainPresenter()
{
    m_session.setObserver(nullptr);
}

// ---------------------------------------------------------------- controls

void MainPresenter::LockControls()
{
    for (std::string_view name : {names::MenuInDevice, names::MenuOutDevice, names::TextStart, names::TextStop,
                                  names::cmdCalibrate, names::MenuEntrySave, names::MenuEntryLoadTrace, names::cmdStart,
                                  names::cmdClearTraces})
        m_panel.setEnabled(name, false);
    tellActivity();
}

void MainPresenter::UnlockControls()
{
    m_panel.setEnabled(names::MenuInDevice, true);
    m_panel.setEnabled(names::MenuOutDevice, true);
    m_panel.setEnabled(names::TextStart, true);
    m_panel.setEnabled(names::TextStop, true);
    m_panel.setEnabled(names::cmdCalibrate, m_session.calibrated());
    const bool haveTrace = m_document.traces().GetTraceCount() >= 1;
    m_panel.setEnabled(names::cmdClearTraces, haveTrace);
    m_panel.setEnabled(names::MenuEntryLoadTrace, true);
    m_panel.setEnabled(names::MenuEntrySave, haveTrace);
    m_panel.setEnabled(names::HScrollFFT, true);
    m_panel.setEnabled(names::HScrollFine, true);
}

int MainPresenter::selectedIndex(std::string_view array, int count, int fallback) const
{
    for (int i = 0; i < count; ++i)
        if (m_panel.value(controlName(array, i)) != 0)
            return i;
    return fallback;
}

void MainPresenter::setLevelLabel(std::string_view label, double value, std::string_view unit)
{
    std::string text = m_panel.formatNumber(value);
    text += unit;
    m_panel.setCaption(label, text);
}

bool MainPresenter::readNumber(std::string_view box, std::string_view what, double& value)
{
    const std::string text = m_panel.text(box);
    const std::optional<double> number = m_panel.parseNumber(text);
    if (number && std::isfinite(*number)) {
        value = *number;
        return true;
    }
    m_host.message("The " + std::string(what) + " '" + text + "' is not a number.", MessageIcon::Exclamation);
    return false;
}

void MainPresenter::OptionAutoSigGen_Click(int Index)
{
    m_session.choose(Index);
}

void MainPresenter::HScrollStep_Change()
{
    m_panel.setCaption(names::LabelStep, "Step: x" + m_panel.formatNumber(m_panel.value(names::HScrollStep) / 100.0));
}

// ---------------------------------------------------------------- the run

void MainPresenter::cmdStart_Click()
{
    LockControls();
    m_panel.setEnabled(names::cmdStop, true);
    m_panel.setEnabled(names::cmdStart, false);
    m_panel.setEnabled(names::cmdStartSignal, false);
    m_panel.setEnabled(names::HScrollFFT, false);
    m_panel.setEnabled(names::HScrollFine, false);
    for (int i = 0; i < SignalCount; ++i)
        m_panel.setEnabled(controlName(names::OptionSigGen, i), false);
    m_session.choose(selectedIndex(names::OptionAutoSigGen, AutoPlanCount, m_session.choice()));
    m_sound.StopPlayback();
    RunTrace();
}

void MainPresenter::RunTrace()
{
    // Text that is not a number refuses the run before it takes a trace
    // slot; the limits are checked by the sweep, on the run's empty trace.
    double start = 0;
    double stop = 0;
    if (!readNumber(names::TextStart, "start frequency", start) || !readNumber(names::TextStop, "stop frequency", stop)) {
        m_runEnd = RunEnd::Refused;
        cmdStop_Click();
        return;
    }
    SweepSettings settings;
    // Plan buttons stay usable during a sweep; a click acts from the next run.
    settings.plan = m_session.choice();
    settings.start = start;
    settings.stop = stop;
    settings.userFile = m_panel.text(names::txtUserFreqFile);
    settings.corrections = &m_document.corrections();
    settings.detector = levelDetectorChoice();
    settings.channel = recordChannelChoice();
    m_inputNote.clear();
    (void)m_session.runSweep(settings); // the run told the user what went wrong
    m_runEnd = m_session.lastRunEnd();
}

LevelDetector MainPresenter::levelDetectorChoice() const
{
    return m_panel.value(controlName(names::MenuEntryDetector, 1)) == 1 ? LevelDetector::NarrowBand
                                                                    : LevelDetector::MeanMagnitude;
}

RecordChannel MainPresenter::recordChannelChoice() const
{
    if (m_panel.value(controlName(names::MenuEntryRecordChannel, 1)) == 1)
        return RecordChannel::Left;
    if (m_panel.value(controlName(names::MenuEntryRecordChannel, 2)) == 1)
        return RecordChannel::Right;
    return RecordChannel::Mix;
}

void MainPresenter::inputNoted(const std::string& note)
{
    m_inputNote = note;
}

void MainPresenter::cmdStop_Click()
{
    m_session.stop();
    restoreControls();
}

void MainPresenter::restoreControls()
{
    m_panel.setStatusText("");
    UnlockControls();
    m_panel.setEnabled(names::cmdStop, false);
    m_panel.setEnabled(names::cmdStart, true);
    m_panel.setCaption(names::cmdStartSignal, "Start Signal");
    m_panel.setEnabled(names::cmdStartSignal, true);
    for (int i = 0; i < SignalCount; ++i)
        m_panel.setEnabled(controlName(names::OptionSigGen, i), true);
    for (int i = 0; i < AutoPlanCount; ++i)
        m_panel.setEnabled(controlName(names::OptionAutoSigGen, i), true);
    tellActivity();
}

void MainPresenter::cmdCalibrate_Click()
{
    m_session.forgetCalibration();
    m_panel.setEnabled(names::cmdCalibrate, false);
}

// ---------------------------------------------------------------- what the runs ask

bool MainPresenter::measuresBadBlocksAgain() const
{
    return m_panel.value(names::CheckBadInputWave) == 1;
}

bool MainPresenter::showsWaveform() const
{
    return m_panel.value(names::CheckInput) == 1;
}

bool MainPresenter::showsSpectrum() const
{
    return m_panel.value(names::CheckFFT) == 1;
}

double MainPresenter::stepFactor() const
{
    return m_panel.value(names::HScrollStep) / 100.0;
}

audimera::Status MainPresenter::openTrace()
{
    return m_document.openTrace();
}

// ---------------------------------------------------------------- what the runs report

void MainPresenter::playing(Sound sound, double frequency)
{
    switch (sound) {
    case Sound::Silence:
        m_panel.setCaption(names::LabelFreq, "Silence...");
        break;
    case Sound::WhiteNoise:
        m_panel.setCaption(names::LabelFreq, "White noise...");
        break;
    case Sound::PinkNoise:
        m_panel.setCaption(names::LabelFreq, "Pink noise...");
        break;
    case Sound::Tone:
        setLevelLabel(names::LabelFreq, frequency, " Hz");
        break;
    }
}

void MainPresenter::sweepProgress(int point, int points)
{
    // Built in a string reserved once: a measured point allocates nothing.
    std::string& text = m_status;
    text.clear();
    if (points > 0) {
        text += "Point ";
        text += std::to_string(point);
        text += " of ";
        text += std::to_string(points);
    } else {
        // The place on the logarithmic axis between start and stop.
        const double start = m_session.sweepStart();
        const int stop = m_session.sweepStop();
        const double frequency = m_session.frequency();
        const double span = std::log(stop / start);
        const double done = span > 0 ? std::log(frequency / start) / span : 1;
        text += "Sweep at ";
        text += m_panel.formatNumber(frequency);
        text += " Hz, ";
        text += std::to_string(static_cast<int>(std::lround(100 * std::clamp(done, 0.0, 1.0))));
        text += " % of the way from ";
        text += m_panel.formatNumber(start);
        text += " to ";
        text += std::to_string(stop);
        text += " Hz";
    }
    if (!m_inputNote.empty()) {
        text += ". ";
        text += m_inputNote;
    }
    m_panel.setStatusText(text);
}

void MainPresenter::calibrationMeasured(double snr)
{
    setLevelLabel(names::LabelSNR, snr, " dB");
    setLevelLabel(names::LabelCardSNR, snr, " dB");
}

void MainPresenter::pointMeasured(double frequency, double level, double snr)
{
    setLevelLabel(names::LabelSNR, snr, " dB");
    setLevelLabel(names::LabelDB, level, " dB");
    m_document.traces().AddPoint(frequency, level);
    m_displays.TraceResponse();
}

void MainPresenter::levelMeasured(double level, double snr)
{
    setLevelLabel(names::LabelSNR, snr, " dB");
    setLevelLabel(names::LabelDB, level, " dB");
}

void MainPresenter::distortionMeasured(double, const Distortion& distortion)
{
    // "THD % (THD+N %)", N/A for what was not measured; built in a string
    // reserved once.
    std::string& text = m_distortionText;
    text.clear();
    if (distortion.thdPercent) {
        text += m_panel.formatNumber(*distortion.thdPercent);
        text += " %";
    } else {
        text += "N/A";
    }
    if (distortion.thdNoisePercent) {
        text += " (THD+N ";
        text += m_panel.formatNumber(*distortion.thdNoisePercent);
        text += " %)";
    }
    m_panel.setCaption(names::LabelTHD, text);
}

void MainPresenter::DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First, bool CheckSat,
                                  int Off)
{
    m_displays.DrawCurve(OsciWidth, OsciHeight, RecBuffer, First, CheckSat, Off);
}

void MainPresenter::TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured)
{
    m_displays.TraceFFT(FFTIn, FFTOUT, Satured);
}

void MainPresenter::runEnded(RunEnd why)
{
    // Declining the low-signal question keeps "Recenter 0dB" off.
    if (why == RunEnd::LowSignalDeclined)
        m_panel.setEnabled(names::cmdCalibrate, false);
    restoreControls();
}

} // namespace audimera

// A measurement session wired to test doubles: a scripted host, a document
// of its own and a device of the test's choice; watched by a recording
// observer (SessionRig) or by the main window's presenter on a panel in its
// start-up state with recording plot windows (EngineRig).
#pragma once

#include "common/Rounding.h"
#include "dsp/DspLibrary.h"
#include "tests/engine/FakePanel.h"
#include "tests/engine/RecordingDisplays.h"
#include "tests/engine/RecordingObserver.h"
#include "tests/engine/RecordingSoundDevice.h"
#include "tests/engine/ScriptedHost.h"
#include "ui/presenter/MainPresenter.h"

#include <functional>
#include <memory>
#include <utility>

namespace audimera {

// A device that records silence at once; for tests that feed RecBuffer
// themselves.
class SilentSoundDevice : public SoundDevice {
public:
    std::vector<SoundDeviceInfo> playDevices() override { return {{"null", "Null"}}; }
    std::vector<SoundDeviceInfo> recordDevices() override { return {{"null", "Null"}}; }
    audimera::Status openOutputDevice(int) override { return {}; }
    audimera::Status openInputDevice(int) override { return {}; }
    int outputDevice() const override { return 0; }
    int inputDevice() const override { return 0; }
    void closeAudio() override {}
    void StopPlayback() override {}
    audimera::Status PlayLoop(const int16_t*, int) override { return {}; }
    void SetPlayRate(int) override {}
    void SetPlayVolume(int) override {}
    void SetPlayPan(int) override {}
    audimera::Result<Recorded> RecordBlock(int16_t* buffer, RecordWaiter& waiter) override
    {
        if (!waiter.waitOnce())
            return Recorded::Cancelled;
        for (int i = 0; i < RecordSamples; ++i)
            buffer[i] = 0;
        return Recorded::Complete;
    }
};

// A perfect loopback: records what the looping table sounds at its rate
// (linear interpolation, unit gain), scaled by gain. Tests can spoil single
// blocks, make the device fail, or count records.
class LoopbackDevice : public SoundDevice {
public:
    double gain = 1.0;
    int waitsPerRecord = 1;
    std::string failWith;                         // the next record fails with this text
    std::function<void(int, int16_t*)> tamper;    // called with the block number (from 1)
    int records = 0;
    int playLoops = 0;
    int rate = 0;
    bool playing = false;
    std::string playFailure;                      // PlayLoop fails with this text

    std::vector<SoundDeviceInfo> playDevices() override { return {{"loop", "Loopback"}}; }
    std::vector<SoundDeviceInfo> recordDevices() override { return {{"loop", "Loopback"}}; }
    audimera::Status openOutputDevice(int) override { return {}; }
    audimera::Status openInputDevice(int) override { return {}; }
    int outputDevice() const override { return 0; }
    int inputDevice() const override { return 0; }
    void closeAudio() override { StopPlayback(); }
    void StopPlayback() override
    {
        playing = false;
        m_phase = 0;
    }
    audimera::Status PlayLoop(const int16_t* table, int r) override
    {
        if (!playFailure.empty())
            return audimera::Error{playFailure};
        ++playLoops;
        StopPlayback();
        m_table.assign(table, table + PlaySamples);
        SetPlayRate(r);
        playing = true;
        return {};
    }
    void SetPlayRate(int r) override { rate = clampRate(r); }
    void SetPlayVolume(int) override {}
    void SetPlayPan(int) override {}
    audimera::Result<Recorded> RecordBlock(int16_t* buffer, RecordWaiter& waiter) override
    {
        for (int i = 0; i < waitsPerRecord; ++i)
            if (!waiter.waitOnce())
                return Recorded::Cancelled;
        if (!failWith.empty())
            return audimera::Error{std::exchange(failWith, {})};
        ++records;
        for (int i = 0; i < RecordSamples; ++i) {
            double v = 0;
            if (playing) {
                const int k = static_cast<int>(m_phase);
                const double frac = m_phase - k;
                v = m_table[k] * (1 - frac) + m_table[(k + 1) % PlaySamples] * frac;
                m_phase += rate / 44100.0;
                while (m_phase >= PlaySamples)
                    m_phase -= PlaySamples;
            }
            buffer[i] = audimera::nearestSample(v * gain);
        }
        if (tamper)
            tamper(records, buffer);
        return Recorded::Complete;
    }

private:
    std::vector<int16_t> m_table = std::vector<int16_t>(PlaySamples);
    double m_phase = 0;
};

// The newest trace of a document as (frequency as measured, level in dB);
// empty without a trace.
inline std::vector<std::pair<double, double>> newestTrace(const MeasurementDocument& document)
{
    std::vector<std::pair<double, double>> points;
    for (const CurvePoint& p : document.lastTrace())
        points.emplace_back(p.frequency, p.level);
    return points;
}

inline std::vector<double> newestFrequencies(const MeasurementDocument& document)
{
    std::vector<double> f;
    for (const CurvePoint& p : document.lastTrace())
        f.push_back(p.frequency);
    return f;
}

inline int traceCount(const MeasurementDocument& document)
{
    return document.traces().GetTraceCount();
}

// Fills the session's noise tables as the program does at start-up, the
// same for every session.
inline void initialiseTables(MeasurementSession& session)
{
    Audidsp::LowPass44(0, 0, 1);
    session.initialiseTables();
}

// Measures the session's reference (silence, then white noise) as the
// signal's start does, and stops once it is held; the yields, records and
// calls that took stay counted.
inline void calibrate(MeasurementSession& session, ScriptedHost& host)
{
    auto done = std::make_shared<bool>(false);
    host.everyYield([&session, done] {
        if (!*done && session.calibrated()) {
            *done = true;
            session.stop();
        }
    });
    (void)session.runSignal({});
}

template <typename Device>
struct SessionRig {
    template <typename... Args>
    explicit SessionRig(Args&&... deviceArgs) : device(std::forward<Args>(deviceArgs)...)
    {
        session.setObserver(&observer);
    }
    ScriptedHost host;
    Device device;
    MeasurementDocument document;
    MeasurementSession session{host, device, document};
    RecordingObserver observer{document};
};

// A session on a perfect loopback whose playback calls are logged, with its
// tables filled, watched by a recording observer.
class LoopbackSessionTest : public ::testing::Test {
protected:
    using Call = RecordingSoundDevice::Call;
    LoopbackSessionTest()
    {
        session.setObserver(&observer);
        initialiseTables(session);
    }
    ScriptedHost host;
    LoopbackDevice card;
    RecordingSoundDevice device{card};
    MeasurementDocument document;
    MeasurementSession session{host, device, document};
    RecordingObserver observer{document};

    // A reference held; the records, calls and reports counted from here.
    void calibrated()
    {
        calibrate(session, host);
        card.records = 0;
        device.calls.clear();
        observer.sounds.clear();
        observer.levels.clear();
    }
};

// The same session watched by the main window's presenter instead, on a
// panel in its start-up state with recording plot windows.
class LoopbackPresenterTest : public LoopbackSessionTest {
protected:
    FakePanel panel;
    RecordingDisplays displays;
    MainPresenter e{panel, session, displays};
};

template <typename Device>
struct EngineRig {
    template <typename... Args>
    explicit EngineRig(char decimal = '.', Args&&... deviceArgs)
        : panel(decimal), device(std::forward<Args>(deviceArgs)...), session(host, device, document),
          engine(std::make_unique<MainPresenter>(panel, session, displays))
    {
    }
    FakePanel panel;
    ScriptedHost host;
    Device device;
    RecordingDisplays displays;
    MeasurementDocument document;
    MeasurementSession session;
    std::unique_ptr<MainPresenter> engine;
};

} // namespace audimera

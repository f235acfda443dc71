// Helpers of the sound tests: the private test server, sinks of a test's
// own, tone analysis and a waiter with hooks.
//
// The tests talk to the private server whose address is in
// AUDIMERA_TEST_PULSE_SERVER (./test starts it with scripts/pulse-test-server)
// and skip when it is not set, so running sound_tests by hand never reaches
// the user's own server unless asked to.
#pragma once

#include "engine/Host.h"
#include "devices/PulseSoundDevice.h"
#include "tests/support/ResultPrinter.h"
#include "signal/SignalSynthesis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <thread>
#include <unistd.h>
#include <vector>

namespace audimera {

namespace pulsetest {

constexpr double Pi = 3.14159265358979323846;

inline std::string sharedServer()
{
    const char* server = std::getenv("AUDIMERA_TEST_PULSE_SERVER");
    return server ? server : "";
}

#define REQUIRE_PULSE_SERVER()                                                                           \
    do {                                                                                                 \
        if (pulsetest::sharedServer().empty())                                                           \
            GTEST_SKIP() << "AUDIMERA_TEST_PULSE_SERVER is not set (./test starts a private server)"; \
    } while (0)

inline std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct CommandResult {
    int status = -1;
    std::string output; // stdout and stderr, last line break removed
};

inline CommandResult runCommand(const std::string& command)
{
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        result.output.append(chunk, n);
    result.status = pclose(pipe);
    while (!result.output.empty() && (result.output.back() == '\n' || result.output.back() == '\r'))
        result.output.pop_back();
    return result;
}

// pactl on server.
inline CommandResult pactl(const std::string& server, const std::string& arguments)
{
    return runCommand("PULSE_SERVER=" + shellQuoted(server) + " pactl " + arguments);
}

// A null sink of the test's own on server, so tests that run at the same time
// do not hear each other; it runs at rate. Unloaded at the end of the test.
// rewinds: the server's default null sink, which renders ahead and rewinds
// for a new stream (the test server's sinks have norewinds=1).
class PrivateSink {
public:
    PrivateSink(std::string server, const std::string& tag, int rate = 44100, bool rewinds = false)
        : m_server(std::move(server)),
          m_name("audimera_" + tag + "_" + std::to_string(getpid())),
          m_description("Audimera-" + tag + "-" + std::to_string(getpid()))
    {
        const CommandResult loaded = pactl(
            m_server, "load-module module-null-sink sink_name=" + m_name
                          + " rate=" + std::to_string(rate) + " channels=2 format=float32le" + (rewinds ? "" : " norewinds=1") + " sink_properties=device.description="
                          + m_description);
        if (loaded.status == 0)
            m_module = std::atoi(loaded.output.c_str());
        else
            ADD_FAILURE() << "cannot load a null sink: " << loaded.output;
    }
    ~PrivateSink() { unload(); }
    PrivateSink(const PrivateSink&) = delete;
    PrivateSink& operator=(const PrivateSink&) = delete;

    void unload()
    {
        if (m_module >= 0)
            pactl(m_server, "unload-module " + std::to_string(m_module));
        m_module = -1;
    }

    const std::string& name() const { return m_name; }
    std::string monitor() const { return m_name + ".monitor"; }
    const std::string& description() const { return m_description; }

private:
    std::string m_server;
    std::string m_name;
    std::string m_description;
    int m_module = -1;
};

inline int indexOf(const std::vector<SoundDeviceInfo>& devices, const std::string& name)
{
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == name)
            return int(i);
    return -1;
}

// Opens sink for playing and its monitor for recording (channels 1 or 2).
// Empty string, or what went wrong.
// Opens the play device play and the record device record by name; "" or
// what went wrong.
inline std::string openByName(PulseSoundDevice& device, const std::string& play, const std::string& record,
                              int channels = 1)
{
    if (std::string error = device.refreshDevices().message(); !error.empty())
        return "refresh: " + error;
    const int output = indexOf(device.playDevices(), play);
    const int input = indexOf(device.recordDevices(), record);
    if (output < 0 || input < 0)
        return "the devices " + play + " or " + record + " are not listed";
    if (std::string error = device.openOutputDevice(output).message(); !error.empty())
        return error;
    return device.openInputDevice(input, channels).message();
}

inline std::string openLoopback(PulseSoundDevice& device, const std::string& sink, int channels = 1)
{
    return openByName(device, sink, sink + ".monitor", channels);
}

// Amplitude of the component at frequency (Hz at 44100 samples per second)
// in count samples x[0], x[stride], ..., through a Hann window.
inline double toneAmplitude(const int16_t* x, int count, double frequency, int stride = 1)
{
    double re = 0, im = 0, weights = 0;
    const double step = 2 * Pi * frequency / SoundDevice::SampleRate;
    for (int n = 0; n < count; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2 * Pi * n / count);
        const double v = w * x[size_t(n) * stride];
        re += v * std::cos(step * n);
        im -= v * std::sin(step * n);
        weights += w;
    }
    return 2 * std::hypot(re, im) / weights;
}

// toneAmplitude in each tenth of a block, in order.
inline std::vector<double> windowAmplitudes(const int16_t* x, int frames, double frequency, int stride = 1)
{
    constexpr int Windows = 10;
    const int length = frames / Windows;
    std::vector<double> amplitudes;
    for (int k = 0; k < Windows; ++k)
        amplitudes.push_back(toneAmplitude(x + size_t(k) * length * stride, length, frequency, stride));
    return amplitudes;
}

// The median over the tenths of a block, so a late wake-up of the server's
// thread on a loaded machine (a short gap) does not move the level.
inline double blockAmplitude(const int16_t* x, int frames, double frequency, int stride = 1)
{
    std::vector<double> amplitudes = windowAmplitudes(x, frames, frequency, stride);
    std::sort(amplitudes.begin(), amplitudes.end());
    const size_t half = amplitudes.size() / 2;
    return (amplitudes[half - 1] + amplitudes[half]) / 2;
}

// The largest over the tenths: a tone present in any part of the block.
inline double largestAmplitude(const int16_t* x, int frames, double frequency, int stride = 1)
{
    const std::vector<double> amplitudes = windowAmplitudes(x, frames, frequency, stride);
    return *std::max_element(amplitudes.begin(), amplitudes.end());
}

inline int peakOf(const int16_t* x, int count, int stride = 1)
{
    int peak = 0;
    for (int n = 0; n < count; ++n)
        peak = std::max(peak, std::abs(int(x[size_t(n) * stride])));
    return peak;
}

inline double dB(double ratio)
{
    return 20 * std::log10(ratio);
}

// The generator's sine table for frequency, and its play rate.
struct Tone {
    std::vector<int16_t> table = std::vector<int16_t>(ToneTableSize, 0);
    int rate = 0;
    explicit Tone(double frequency) { rate = GenSineWave(table.data(), frequency, false); }
};

// Sleeps 1 ms per call like the program's waiter; hook(call) runs first and
// may end the block by returning false.
class TestWaiter : public RecordWaiter {
public:
    std::function<bool(int)> hook;
    int calls = 0;
    bool waitOnce() override
    {
        ++calls;
        if (hook && !hook(calls))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
};

inline void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The host of an engine that sweeps through a real server: sleeps take real
// time (unless realTime is false, for the simulated card), messages are kept
// and answered Yes, there are no events to process.
class SweepHost : public Host {
public:
    explicit SweepHost(bool realTime = true) : m_realTime(realTime) {}
    void yield() override {}
    void sleepMs(int ms) override
    {
        if (m_realTime)
            pulsetest::sleepMs(ms);
    }
    MessageAnswer message(std::string_view text, MessageIcon, MessageButtons) override
    {
        messages.emplace_back(text);
        return MessageAnswer::Yes;
    }
    std::vector<std::string> messages;

private:
    bool m_realTime;
};

// A second private server started by the test itself through one of the
// scripts in scripts/ (by default pulse-test-server), for tests that kill or
// change a server.
class PrivateServer {
public:
    explicit PrivateServer(std::string scriptName = "pulse-test-server") : m_script(std::move(scriptName))
    {
        char folder[] = "/tmp/audimera-test-server.XXXXXX";
        if (mkdtemp(folder))
            m_folder = folder;
    }
    ~PrivateServer() { runCommand(shellQuoted(scriptPath()) + " stop " + shellQuoted(m_folder)); }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    // Starts (or starts again) the server; empty string or the script's text.
    std::string start()
    {
        const CommandResult started = runCommand(shellQuoted(scriptPath()) + " start " + shellQuoted(m_folder));
        if (started.status != 0)
            return started.output.empty() ? m_script + " failed" : started.output;
        m_address = started.output;
        return {};
    }
    // Kills the daemon at once, as a crash would.
    void kill() { signal(SIGKILL); }
    // Sends a signal to the daemon (SIGSTOP freezes it, SIGCONT wakes it).
    void signal(int number)
    {
        std::ifstream pidFile(m_folder + "/pid");
        int pid = 0;
        if (pidFile >> pid && pid > 0)
            ::kill(pid, number);
    }
    const std::string& address() const { return m_address; }
    // The server's own folder (removed when it stops).
    const std::string& folder() const { return m_folder; }

    // A script of the source tree: AUDIMERA_TEST_DATA is <root>/tests/data
    // (which need not exist, so no "..").
    static std::string script(const std::string& name = "pulse-test-server")
    {
        std::string root = AUDIMERA_TEST_DATA;
        for (int up = 0; up < 2; ++up)
            root = root.substr(0, root.find_last_of('/'));
        return root + "/scripts/" + name;
    }

private:
    std::string scriptPath() const { return script(m_script); }

    std::string m_script;
    std::string m_folder;
    std::string m_address;
};

// A private PipeWire with its PulseAudio server, started by
// scripts/pipewire-test-server.
class PrivatePipeWire : public PrivateServer {
public:
    PrivatePipeWire() : PrivateServer("pipewire-test-server") {}
};

// A PipeWire process of the test's own (`pipewire -c conf`, its log in the
// server's folder) joined to a started PrivatePipeWire, as the user runs a
// filter chain; ended with the test, before its server.
class ChainProcess {
public:
    ChainProcess(const PrivatePipeWire& server, const std::string& name, const std::string& conf)
        : m_log(server.folder() + "/" + name + ".log")
    {
        const std::string dir = server.folder(), file = dir + "/" + name + ".conf";
        std::ofstream(file) << conf;
        const CommandResult started = runCommand(
            "env XDG_RUNTIME_DIR=" + shellQuoted(dir + "/runtime") + " PIPEWIRE_RUNTIME_DIR="
            + shellQuoted(dir + "/runtime") + " XDG_CONFIG_HOME=" + shellQuoted(dir + "/config")
            + " HOME=" + shellQuoted(dir + "/home") + " pipewire -c " + shellQuoted(file) + " >"
            + shellQuoted(m_log) + " 2>&1 </dev/null & echo $!");
        m_pid = std::atoi(started.output.c_str());
    }
    ~ChainProcess()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGTERM);
    }
    ChainProcess(const ChainProcess&) = delete;
    ChainProcess& operator=(const ChainProcess&) = delete;

    bool started() const { return m_pid > 0; }
    // The index of the play device named name (or described so) once the
    // process has made it, within 10 s; -1 with the log's end in why.
    int sink(PulseSoundDevice& device, const std::string& name, std::string& why) const
    {
        for (int i = 0; i < 100; ++i) {
            if (device.refreshDevices().ok()) {
                const std::vector<SoundDeviceInfo> play = device.playDevices();
                for (size_t d = 0; d < play.size(); ++d)
                    if (play[d].name == name || play[d].description == name)
                        return int(d);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        why = "the sink did not appear; " + runCommand("tail -n 5 " + shellQuoted(m_log)).output;
        return -1;
    }

private:
    std::string m_log;
    int m_pid = 0;
};

} // namespace pulsetest

} // namespace audimera

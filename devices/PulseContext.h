// The connection to the sound server: a pa_threaded_mainloop running the
// server's thread, and one pa_context on it. Also lists the server's play
// devices (sinks) and record devices (sources, monitors included), and
// counts the server's device events (a device came or went, the default
// changed) so that the lists can be read again.
//
// Threads: every public method runs on the UI thread. The UI thread takes the
// mainloop lock (Lock) only around short API calls; all waiting for the
// server is done by polling with the lock released, so a server that stops
// answering makes the call fail after its timeout instead of hanging. Between
// polls the wait hook runs (the program processes its window events there).
// Callbacks run on the server's thread with the lock held; they only copy
// into storage allocated beforehand and store atomics.
#pragma once

#include "devices/SoundDevice.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace audimera {

class PulseContext {
public:
    // How long a connect, a stream set-up or a device listing may take; an
    // action made of several of them (see Action) takes this long in all.
    static constexpr int TimeoutMs = 5000;
    static constexpr const char* NotConnected = "Not connected to the sound server";
    using Clock = std::chrono::steady_clock;

    // server: a server string such as "unix:/run/user/1000/pulse/native";
    // empty for the user's default server. No server is ever spawned.
    explicit PulseContext(std::string server);
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Holds the mainloop lock for a scope. Only while a mainloop exists.
    class Lock {
    public:
        explicit Lock(PulseContext& pulse) : m_mainloop(pulse.m_mainloop) { pa_threaded_mainloop_lock(m_mainloop); }
        ~Lock() { pa_threaded_mainloop_unlock(m_mainloop); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_mainloop;
    };

    // The lock without a scope, for a hold that spans calls (a test hook of
    // the device). Only while a mainloop exists.
    void lockMainloop() { pa_threaded_mainloop_lock(m_mainloop); }
    void unlockMainloop() { pa_threaded_mainloop_unlock(m_mainloop); }

    // Connects unless connected. A context that has died is dropped and a new
    // one made, so a restarted server is reached again. Streams of the old
    // context must have been released by their owners first. Fails with the
    // server's error text.
    audimera::Status connect();
    // Drops the context and stops the server's thread.
    void disconnect();

    // True while the context is connected and usable.
    bool isReady() const;
    // True when the context failed or was terminated (server gone).
    bool isDead() const;
    // Whether connect() ever made a mainloop (Lock may be used).
    bool hasMainloop() const { return m_mainloop != nullptr; }

    // The server's text for the context's last error. Lock held.
    std::string errorText() const;

    pa_context* context() const { return m_context; }
    const std::string& server() const { return m_server; }

    // Asks the server for its devices: default first, the others in the
    // server's order, except that the record list puts real inputs before
    // the monitors of sinks (the default stays first whatever it is).
    audimera::Status listDevices(std::vector<SoundDeviceInfo>& play, std::vector<SoundDeviceInfo>& record);

    // Asks the server for the sample rate the sink (sink true) or source
    // named device runs at now, in Hz; 0 when the server does not know the
    // device or does not answer in time.
    int deviceRate(bool sink, const std::string& device);

    // The server's name as the last listDevices() was told it; empty before
    // one. UI thread (the caller of listDevices()).
    const std::string& serverName() const { return m_serverName; }

    // Device events seen since the mainloop was made (sinks or sources added
    // or removed, server changes such as a new default). Any thread.
    unsigned deviceEvents() const { return m_deviceEvents.load(std::memory_order_acquire); }

    // Runs between the polls of every wait, with the lock released; empty
    // for none. Whatever it calls must not call this context again.
    void setWaitHook(std::function<void()> hook) { m_waitHook = std::move(hook); }

    // One action of the caller (for instance connect, list and open in a
    // row): while one is in scope every wait ends TimeoutMs after the
    // outermost one began, so a server that never answers fails the whole
    // action within that time. Nests.
    class Action {
    public:
        explicit Action(PulseContext& pulse) : m_pulse(pulse)
        {
            if (m_pulse.m_actions++ == 0)
                m_pulse.m_actionEnd = Clock::now() + std::chrono::milliseconds(TimeoutMs);
        }
        ~Action() { --m_pulse.m_actions; }
        Action(const Action&) = delete;
        Action& operator=(const Action&) = delete;

    private:
        PulseContext& m_pulse;
    };

    // When a wait that begins now must end: TimeoutMs from now, or the end of
    // the action in scope when that comes first.
    Clock::time_point deadline() const
    {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(TimeoutMs);
        return m_actions > 0 ? std::min(end, m_actionEnd) : end;
    }

    // Polls done() (called with the lock held) every millisecond with the
    // lock released in between, until end. Gives up early when the context
    // dies. True when done() held.
    template <typename Done>
    bool waitUntil(Done done, Clock::time_point end)
    {
        for (;;) {
            {
                Lock lock(*this);
                if (done())
                    return true;
                if (isDead())
                    return false;
            }
            if (Clock::now() >= end)
                return false;
            if (m_waitHook)
                m_waitHook();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    template <typename Done>
    bool waitUntil(Done done)
    {
        return waitUntil(done, deadline());
    }

    // Waits for an operation to end (cancelling it at end) and releases it.
    // True when it completed.
    bool finish(pa_operation* operation, Clock::time_point end);

private:
    // A device as the listing callbacks copy it: fixed storage, so the
    // callbacks allocate nothing. Server names are at most 128 bytes; longer
    // descriptions are shortened at a character boundary.
    static constexpr int TextBytes = 256;
    static constexpr int MaxDevices = 64;
    struct FoundDevice {
        char name[TextBytes];
        char description[TextBytes];
        char monitorOf[TextBytes]; // the sink's name for a monitor, else empty
        int rate;                  // Hz
    };
    struct FoundList {
        std::vector<FoundDevice> devices;
        int count = 0;
        char defaultName[TextBytes];
    };

    static void stateCallback(pa_context* context, void* self);
    static void serverInfoCallback(pa_context* context, const pa_server_info* info, void* self);
    static void sinkCallback(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void sourceCallback(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void subscribeCallback(pa_context* context, pa_subscription_event_type_t event, uint32_t index,
                                  void* self);
    static void addDevice(FoundList& list, const char* name, const char* description, int rate,
                          const char* monitorOf = nullptr) noexcept;
    static void rateCallback(int eol, const pa_sample_spec* format, void* self) noexcept;
    static void sinkRateCallback(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void sourceRateCallback(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void copyText(char* to, const char* from) noexcept;
    // The list as the menus show it; monitors take the description of their
    // sink from sinks.
    static std::vector<SoundDeviceInfo> ordered(const FoundList& list, const FoundList* sinks = nullptr);

    void dropContext();

    std::string m_server;
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    std::atomic<int> m_state{PA_CONTEXT_UNCONNECTED};
    std::atomic<unsigned> m_deviceEvents{0};
    std::function<void()> m_waitHook;
    int m_actions = 0;
    Clock::time_point m_actionEnd;

    FoundList m_sinks;
    FoundList m_sources;
    char m_foundServerName[TextBytes] = {}; // the server info's name; lock held
    std::string m_serverName;               // its copy for the UI thread
    int m_askedRate = 0; // the answer of deviceRate(); lock held
};

} // namespace audimera

// The connection to the sound server: a pa_threaded_mainloop running the
// server's thread, and one pa_context on it. Also lists the server's play
// devices (sinks) and record devices (sources, monitors included).
//
// Threads: every public method runs on the UI thread. The UI thread takes the
// mainloop lock (Lock) only around short API calls; all waiting for the
// server is done by polling with the lock released, so a server that stops
// answering makes the call fail after its timeout instead of hanging.
// Callbacks run on the server's thread with the lock held; they only copy
// into storage allocated beforehand and store atomics.
#pragma once

#include "SoundDevice.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class PulseContext {
public:
    // How long a connect, a stream set-up or a device listing may take.
    static constexpr int TimeoutMs = 5000;

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

    // Connects unless connected. A context that has died is dropped and a new
    // one made, so a restarted server is reached again. Streams of the old
    // context must have been released by their owners first. Returns an
    // empty string or the reason (the server's error text).
    std::string connect();
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
    // server's order. Returns an empty string or the reason of the failure.
    std::string listDevices(std::vector<SoundDeviceInfo>& play, std::vector<SoundDeviceInfo>& record);

    // Polls done() (called with the lock held) every millisecond with the
    // lock released in between, for at most timeoutMs. Gives up early when
    // the context dies. True when done() held.
    template <typename Done>
    bool waitUntil(Done done, int timeoutMs = TimeoutMs)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            {
                Lock lock(*this);
                if (done())
                    return true;
                if (isDead())
                    return false;
            }
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Waits for an operation to end (cancelling it after the timeout) and
    // releases it. True when it completed.
    bool finish(pa_operation* operation, int timeoutMs = TimeoutMs);

private:
    // A device as the listing callbacks copy it: fixed storage, so the
    // callbacks allocate nothing. Server names are at most 128 bytes; longer
    // descriptions are shortened at a character boundary.
    static constexpr int TextBytes = 256;
    static constexpr int MaxDevices = 64;
    struct FoundDevice {
        char name[TextBytes];
        char description[TextBytes];
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
    static void addDevice(FoundList& list, const char* name, const char* description) noexcept;
    static void copyText(char* to, const char* from) noexcept;
    static std::vector<SoundDeviceInfo> ordered(const FoundList& list);

    void dropContext();

    std::string m_server;
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    std::atomic<int> m_state{PA_CONTEXT_UNCONNECTED};

    FoundList m_sinks;
    FoundList m_sources;
};

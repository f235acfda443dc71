// The wait of a measurement on the UI thread while the device captures:
// the host's pending events, then a millisecond's sleep. The capture is
// wanted while the flag it watches holds (a run's own flag, or the state's
// LogSweeping), so a Stop handled among those events ends the wait.
//
// UI thread only; the flag must outlive the waiter.
#pragma once

#include "engine/Host.h"
#include "devices/SoundDevice.h"

namespace audimera {

class HostWaiter : public RecordWaiter {
public:
    HostWaiter(Host& host, const bool& wanted) : m_host(host), m_wanted(wanted) {}
    bool waitOnce() override
    {
        m_host.yield();
        m_host.sleepMs(1);
        return m_wanted;
    }

private:
    Host& m_host;
    const bool& m_wanted;
};

} // namespace audimera

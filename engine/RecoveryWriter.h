// Writes the session's recovery file away from the UI thread: the session
// hands over a copy of its data after each change and goes on at once; one
// worker thread writes the newest copy it holds through SessionFile's save
// rules (atomic: a reader sees the old file or the new one), skipping
// copies that a newer one replaced before it began. discard() removes the
// file once no write is pending or running; the destructor finishes the
// last write, so a session's final state is on disk when it ends.
//
// post(), discard(), flush() and failed() from one thread (the UI thread);
// the writes on the worker.
#pragma once

#include "engine/SessionFile.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace audimera {

class RecoveryWriter {
public:
    RecoveryWriter();
    ~RecoveryWriter();
    RecoveryWriter(const RecoveryWriter&) = delete;
    RecoveryWriter& operator=(const RecoveryWriter&) = delete;

    // Writes data to path soon (replacing a copy not yet begun).
    void post(std::string path, SessionData data);
    // Drops a copy not yet begun, waits for one being written, removes path.
    void discard(const std::string& path);
    // Returns once nothing is pending or being written.
    void flush();
    // The last write failed (the old file stays; the next post tries again).
    bool failed();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::optional<std::pair<std::string, SessionData>> m_pending;
    bool m_writing = false, m_stopping = false, m_failed = false;
    std::thread m_worker; // last: starts once the rest is made
};

} // namespace audimera

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
#include <memory>
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

// One running program's recovery file: the first of first, then its name
// with "-2" ... "-8" before the extension, whose lock (the file's name with
// ".lock" beside it, flock) no other program holds. The lock is held until
// the claim is destroyed or the program ends, however it ends, so two
// programs running at once never write or take each other's file.
class RecoveryClaim {
public:
    static constexpr int MaxClaims = 8;
    // Null when every one is held (or the folder cannot be written).
    static std::unique_ptr<RecoveryClaim> claim(const std::string& first);
    ~RecoveryClaim();
    RecoveryClaim(const RecoveryClaim&) = delete;
    RecoveryClaim& operator=(const RecoveryClaim&) = delete;

    const std::string& path() const { return m_path; }

private:
    RecoveryClaim(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    std::string m_path;
    int m_fd = -1;
};

} // namespace audimera

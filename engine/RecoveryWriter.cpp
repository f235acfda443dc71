#include "engine/RecoveryWriter.h"

#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace audimera {

RecoveryWriter::RecoveryWriter() : m_worker([this] { work(); }) {}

RecoveryWriter::~RecoveryWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void RecoveryWriter::post(std::string path, SessionData data)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.emplace(std::move(path), std::move(data));
    }
    m_wake.notify_one();
}

void RecoveryWriter::discard(const std::string& path)
{
    std::unique_lock lock(m_mutex);
    m_pending.reset();
    m_idle.wait(lock, [this] { return !m_writing; });
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

void RecoveryWriter::flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_writing && !m_pending; });
}

bool RecoveryWriter::failed()
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

void RecoveryWriter::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || m_pending; });
        if (!m_pending)
            return; // stopping, nothing left to write
        std::pair<std::string, SessionData> job = std::move(*m_pending);
        m_pending.reset();
        m_writing = true;
        lock.unlock();
        // The user's data folder may not be there yet on a new machine.
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(job.first).parent_path(), ec);
        const bool written = static_cast<bool>(SessionFile::write(job.first, job.second));
        lock.lock();
        m_writing = false;
        m_failed = !written;
        m_idle.notify_all();
    }
}

std::unique_ptr<RecoveryClaim> RecoveryClaim::claim(const std::string& first)
{
    const std::filesystem::path base(first);
    std::error_code ec;
    std::filesystem::create_directories(base.parent_path(), ec);
    for (int n = 1; n <= MaxClaims; ++n) {
        std::filesystem::path path = base;
        if (n > 1)
            path.replace_filename(base.stem().string() + "-" + std::to_string(n) + base.extension().string());
        const std::string lock = path.string() + ".lock";
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return nullptr;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return std::unique_ptr<RecoveryClaim>(new RecoveryClaim(path.string(), fd));
        ::close(fd);
    }
    return nullptr;
}

RecoveryClaim::~RecoveryClaim()
{
    // Closing the descriptor releases the lock.
    ::close(m_fd);
}

} // namespace audimera

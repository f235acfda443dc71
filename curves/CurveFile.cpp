#include "curves/CurveFile.h"

#include "curves/FieldReader.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audimera {

namespace CurveFile {

using audimera::Error;
using audimera::Status;

namespace {

void appendNumber(std::string& out, double value)
{
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? end : buf);
}

// The system's description of errno code; success for 0.
Status systemError(int code)
{
    if (code)
        return Error{std::strerror(code)};
    return {};
}

} // namespace

std::string record(double frequency, double level)
{
    std::string out;
    appendNumber(out, frequency);
    out += ',';
    appendNumber(out, level);
    return out;
}

namespace {

// The whole file's text: one record a line, each ending in CR LF.
std::string fileText(const std::vector<CurvePoint>& points)
{
    std::string text;
    text.reserve(points.size() * 24);
    for (const CurvePoint& p : points) {
        appendNumber(text, p.frequency);
        text += ',';
        appendNumber(text, p.level);
        text += "\r\n";
    }
    return text;
}

// Writes all of text at offset; 0 or the errno of the failure.
int writeAt(int fd, const std::string& text, off_t offset)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Writes all of text at the file position (pipes cannot seek).
int writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int readAll(int fd, std::string& out)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        out.append(buf, static_cast<size_t>(n));
    }
}

// A device or a pipe has nothing to replace: it is written in place.
Status writeDevice(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
    int code = writeAll(fd, text);
    if (close(fd) != 0 && !code)
        code = errno;
    return systemError(code);
}

// A file with several names: rewritten in place, so the inode and with it
// every name, the owner, group and mode stay.
Status rewriteInPlace(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
    std::string old;
    int code = readAll(fd, old);
    // With the blocks reserved, a full disk refuses the save before anything
    // changes; file systems without reservation go on without.
    if (!code && !text.empty() && fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(text.size())) != 0
        && errno != EOPNOTSUPP && errno != ENOSYS)
        code = errno;
    if (!code) {
        code = writeAt(fd, text, 0);
        if (!code && ftruncate(fd, static_cast<off_t>(text.size())) != 0)
            code = errno;
        if (!code && fsync(fd) != 0)
            code = errno;
        if (code && writeAt(fd, old, 0) == 0 && ftruncate(fd, static_cast<off_t>(old.size())) == 0)
            fsync(fd);
    }
    if (close(fd) != 0 && !code)
        code = errno;
    return systemError(code);
}

// --- The temporary file and the signals that end the program.
//
// One save through a temporary file runs at a time (saveMutex), so one path
// is in flight. The handler may run on any thread at any moment: it only
// reads the atomic pointer, removes the file and ends the program with the
// signal's default action.

constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::mutex saveMutex;
std::atomic<const char*> inFlightTemp{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

extern "C" void removeTempAndEnd(int signal)
{
    if (const char* path = inFlightTemp.load())
        unlink(path);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Blocked while this handler runs; delivered, with the default action,
    // when it returns.
    raise(signal);
}

// Holds saveMutex, and installs the handler for each ending signal whose
// action is the default one (an ignored signal or the program's own handler
// does not end the save, which then cleans up after itself). Puts the
// previous actions back when it goes.
class TempFileGuard {
public:
    TempFileGuard() : m_lock(saveMutex)
    {
        struct sigaction ours {};
        ours.sa_handler = removeTempAndEnd;
        ours.sa_mask = endingSet();
        for (size_t i = 0; i < std::size(EndingSignals); ++i) {
            struct sigaction& previous = m_previous[i];
            m_installed[i] = sigaction(EndingSignals[i], nullptr, &previous) == 0
                             && !(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_DFL
                             && sigaction(EndingSignals[i], &ours, nullptr) == 0;
        }
    }

    ~TempFileGuard()
    {
        for (size_t i = 0; i < std::size(EndingSignals); ++i) {
            struct sigaction current {};
            // Left alone if the program set an action of its own meanwhile.
            if (m_installed[i] && sigaction(EndingSignals[i], nullptr, &current) == 0
                && !(current.sa_flags & SA_SIGINFO) && current.sa_handler == removeTempAndEnd)
                sigaction(EndingSignals[i], &m_previous[i], nullptr);
        }
    }

    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

    // mkstemp() on pathTemplate, which then stays in flight until finish().
    // The ending signals wait on this thread until the name is recorded.
    int create(std::string& pathTemplate)
    {
        const Blocked blocked;
        const int fd = mkostemp(pathTemplate.data(), O_CLOEXEC);
        if (fd >= 0)
            inFlightTemp.store(pathTemplate.c_str());
        return fd;
    }

    // Renames the temporary file to target when code is 0, else removes it;
    // the result code.
    int finish(const std::string& temp, const std::string& target, int code)
    {
        const Blocked blocked;
        if (!code && std::rename(temp.c_str(), target.c_str()) != 0)
            code = errno;
        if (code)
            unlink(temp.c_str());
        inFlightTemp.store(nullptr);
        return code;
    }

private:
    static sigset_t endingSet()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int s : EndingSignals)
            sigaddset(&set, s);
        return set;
    }

    struct Blocked {
        Blocked()
        {
            const sigset_t set = endingSet();
            pthread_sigmask(SIG_BLOCK, &set, &m_old);
        }
        ~Blocked() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
        sigset_t m_old;
    };

    std::lock_guard<std::mutex> m_lock;
    struct sigaction m_previous[std::size(EndingSignals)] {};
    bool m_installed[std::size(EndingSignals)] {};
};

// Gives the new file the old one's owner and group where the system allows
// (root always; a member of the group at least the group); 0 or the errno of
// an unexpected failure.
int takeOwnership(int fd, const struct stat& old)
{
    struct stat now {};
    if (fstat(fd, &now) != 0)
        return errno;
    if (now.st_uid == old.st_uid && now.st_gid == old.st_gid)
        return 0;
    if (fchown(fd, old.st_uid, old.st_gid) == 0)
        return 0;
    if (errno == EPERM && now.st_gid != old.st_gid && fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0)
        return 0;
    // Not allowed (or an owner this user namespace cannot name): the file
    // stays the saving user's.
    return errno == EPERM || errno == EINVAL ? 0 : errno;
}

// The file with one name or a new one: replaced whole through a temporary
// file beside it (the rename cannot cross file systems).
Status replace(const std::string& target, const struct stat* old, const std::string& text)
{
    TempFileGuard guard;
    std::string temp = target + ".XXXXXX";
    const int fd = guard.create(temp);
    if (fd < 0)
        return systemError(errno);
    int code = old ? takeOwnership(fd, *old) : 0;
    mode_t mode = 0;
    if (old) {
        mode = old->st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    // After fchown, which may clear the set-id bits.
    if (!code && fchmod(fd, mode) != 0)
        code = errno;
    if (!code)
        code = writeAll(fd, text);
    if (!code && fsync(fd) != 0)
        code = errno;
    if (close(fd) != 0 && !code)
        code = errno;
    code = guard.finish(temp, target, code);
    return systemError(code);
}

} // namespace

Status write(const std::string& path, const std::vector<CurvePoint>& points)
{
    return writeText(path, fileText(points));
}

Status writeText(const std::string& path, const std::string& text)
{
    // Through a symbolic link, the file it points at is written, not the link.
    std::string target = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return systemError(EISDIR);
    if (exists && !(st.st_mode & 0222))
        return Error{ReadOnlyError};
    if (exists && !S_ISREG(st.st_mode))
        return writeDevice(target, text);
    if (exists && st.st_nlink > 1)
        return rewriteInPlace(target, text);
    return replace(target, exists ? &st : nullptr, text);
}

Status read(const std::string& path, std::size_t maxPoints, std::vector<ResponsePoint>& points)
{
    points.clear();
    FieldReader reader;
    if (Status opened = reader.open(path); !opened)
        return opened;
    double last = 0;
    for (;;) {
        FieldReader::Record record;
        const FieldReader::Status status = reader.nextRecord(record);
        if (status == FieldReader::Status::End)
            break;
        if (status == FieldReader::Status::Error)
            return Error{reader.error()};
        const double frequency = record.frequency;
        if (frequency < MinFrequency || frequency > MaxFrequency || !(frequency > last))
            continue;
        if (points.size() >= maxPoints)
            return Error{"more than " + std::to_string(maxPoints) + " points at line " + std::to_string(reader.line())};
        points.push_back(ResponsePoint{frequency, record.level, record.phase});
        last = frequency;
    }
    return {};
}

Status read(const std::string& path, std::size_t maxPoints, std::vector<CurvePoint>& points)
{
    std::vector<ResponsePoint> response;
    const Status status = read(path, maxPoints, response);
    points.clear();
    points.reserve(response.size());
    for (const ResponsePoint& p : response)
        points.push_back(CurvePoint{p.frequency, p.level});
    return status;
}

} // namespace CurveFile

} // namespace audimera

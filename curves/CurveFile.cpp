#include "curves/CurveFile.h"

#include "curves/FieldReader.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
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

audimera::Result<std::string> text(const std::vector<CurvePoint>& points)
{
    std::string text;
    text.reserve(points.size() * 24);
    for (const CurvePoint& p : points) {
        if (!std::isfinite(p.frequency) || !std::isfinite(p.level))
            return Error{"the point " + record(p.frequency, p.level) + " is not a finite number; nothing was written"};
        appendNumber(text, p.frequency);
        text += ',';
        appendNumber(text, p.level);
        text += "\r\n";
    }
    return text;
}

std::string record(double frequency, double level)
{
    std::string out;
    appendNumber(out, frequency);
    out += ',';
    appendNumber(out, level);
    return out;
}

namespace {


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
// The temporary files in flight: one for write(), up to MaxFilesAtOnce for
// writeAll().
std::atomic<const char*> inFlightTemp[MaxFilesAtOnce] = {};
static_assert(std::atomic<const char*>::is_always_lock_free);

extern "C" void removeTempAndEnd(int signal)
{
    for (std::atomic<const char*>& temp : inFlightTemp)
        if (const char* path = temp.load())
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
    // slot: which of the files saved at once (below MaxFilesAtOnce).
    int create(std::string& pathTemplate, std::size_t slot = 0)
    {
        const Blocked blocked;
        const int fd = mkostemp(pathTemplate.data(), O_CLOEXEC);
        if (fd >= 0)
            inFlightTemp[slot].store(pathTemplate.c_str());
        return fd;
    }

    // Renames the temporary file to target when code is 0, else removes it;
    // the result code.
    int finish(const std::string& temp, const std::string& target, int code, std::size_t slot = 0)
    {
        const Blocked blocked;
        if (!code && std::rename(temp.c_str(), target.c_str()) != 0)
            code = errno;
        if (code)
            unlink(temp.c_str());
        inFlightTemp[slot].store(nullptr);
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

// Writes text into a new temporary file beside target (the rename cannot
// cross file systems) with the old file's owner, group and mode; temp gets
// its name. 0, or the errno of a failure, which leaves no temporary file.
int prepareTemp(TempFileGuard& guard, std::size_t slot, const std::string& target, const struct stat* old,
                const std::string& text, std::string& temp)
{
    temp = target + ".XXXXXX";
    const int fd = guard.create(temp, slot);
    if (fd < 0) {
        temp.clear();
        return errno;
    }
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
    if (code) {
        guard.finish(temp, target, code, slot);
        temp.clear();
    }
    return code;
}

// The file with one name or a new one: replaced whole through a temporary
// file beside it.
Status replace(const std::string& target, const struct stat* old, const std::string& text)
{
    TempFileGuard guard;
    std::string temp;
    if (const int code = prepareTemp(guard, 0, target, old, text, temp))
        return systemError(code);
    return systemError(guard.finish(temp, target, 0));
}

// How write() saves a path: the file it writes (a symbolic link followed)
// and what is there.
struct Target {
    std::string path;
    bool exists = false;
    struct stat st {};
};

Target targetOf(const std::string& path)
{
    Target t;
    t.path = path;
    if (lstat(path.c_str(), &t.st) == 0 && S_ISLNK(t.st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            t.path = real;
            std::free(real);
        }
    }
    t.exists = stat(t.path.c_str(), &t.st) == 0;
    return t;
}

// The refusals write() makes before it writes anything.
Status refusal(const Target& t)
{
    if (t.exists && S_ISDIR(t.st.st_mode))
        return systemError(EISDIR);
    if (t.exists && !(t.st.st_mode & 0222))
        return Error{ReadOnlyError};
    return {};
}

bool inPlace(const Target& t)
{
    return t.exists && (!S_ISREG(t.st.st_mode) || t.st.st_nlink > 1);
}

// path with its folder resolved and symbolic links followed as far as they
// lead; the path itself when its folder does not exist.
std::string resolvedPath(std::string path)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        if (n <= 0)
            break;
        link.resize(static_cast<std::size_t>(n));
        const std::size_t slash = path.rfind('/');
        path = link[0] == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char* real = realpath(folder.c_str(), nullptr);
    if (!real)
        return path;
    std::string resolved = real;
    std::free(real);
    return (resolved == "/" ? resolved : resolved + "/") + name;
}

} // namespace

Status write(const std::string& path, const std::vector<CurvePoint>& points)
{
    const audimera::Result<std::string> written = text(points);
    if (!written)
        return written.error();
    return writeText(path, *written);
}

Status writeAll(const std::vector<FileText>& files, std::size_t* failed)
{
    if (files.size() > MaxFilesAtOnce)
        return Error{"more than " + std::to_string(MaxFilesAtOnce) + " files at once"};
    std::vector<Target> targets;
    for (std::size_t i = 0; i < files.size(); ++i) {
        targets.push_back(targetOf(files[i].path));
        if (Status refused = refusal(targets.back()); !refused) {
            if (failed)
                *failed = i;
            return refused;
        }
    }
    TempFileGuard guard;
    std::vector<std::string> temps(files.size());
    const auto fail = [&](std::size_t i, Status status) {
        for (std::size_t k = 0; k < temps.size(); ++k)
            if (!temps[k].empty())
                guard.finish(temps[k], targets[k].path, ECANCELED, k);
        if (failed)
            *failed = i;
        return status;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (inPlace(targets[i]))
            continue;
        if (const int code = prepareTemp(guard, i, targets[i].path, targets[i].exists ? &targets[i].st : nullptr,
                                         files[i].text, temps[i]))
            return fail(i, systemError(code));
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!inPlace(targets[i]))
            continue;
        const Status written = S_ISREG(targets[i].st.st_mode) ? rewriteInPlace(targets[i].path, files[i].text)
                                                               : writeDevice(targets[i].path, files[i].text);
        if (!written)
            return fail(i, written);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (temps[i].empty())
            continue;
        // The name stays where the signal handler reads it until finish().
        const int code = guard.finish(temps[i], targets[i].path, 0, i);
        temps[i].clear();
        if (code)
            return fail(i, systemError(code));
    }
    return {};
}

Status checkWritable(const std::string& path)
{
    const Target t = targetOf(path);
    if (Status refused = refusal(t); !refused)
        return refused;
    if (t.exists && !S_ISREG(t.st.st_mode))
        return {};
    if (inPlace(t)) {
        const int fd = open(t.path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return systemError(errno);
        close(fd);
        return {};
    }
    // What the save will do first: make a file in the folder.
    std::string probe = t.path + ".XXXXXX";
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
    close(fd);
    unlink(probe.c_str());
    return {};
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return resolvedPath(a) == resolvedPath(b);
}

Status writeText(const std::string& path, const std::string& text)
{
    // Through a symbolic link, the file it points at is written, not the link.
    const Target t = targetOf(path);
    if (Status refused = refusal(t); !refused)
        return refused;
    if (t.exists && !S_ISREG(t.st.st_mode))
        return writeDevice(t.path, text);
    if (t.exists && t.st.st_nlink > 1)
        return rewriteInPlace(t.path, text);
    return replace(t.path, t.exists ? &t.st : nullptr, text);
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
    points = curvePoints(response);
    return status;
}

std::string saveError(const std::string& path, const std::string& reason)
{
    return "Error saving file '" + path + "' : " + reason;
}

std::vector<CurvePoint> curvePoints(const std::vector<ResponsePoint>& points)
{
    std::vector<CurvePoint> curve;
    curve.reserve(points.size());
    for (const ResponsePoint& p : points)
        curve.push_back(CurvePoint{p.frequency, p.level});
    return curve;
}

} // namespace CurveFile

} // namespace audimera

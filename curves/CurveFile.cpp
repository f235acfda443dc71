#include "CurveFile.h"

#include "FieldReader.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace CurveFile {

namespace {

void appendNumber(std::string& out, double value)
{
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? end : buf);
}

std::string systemError(int code)
{
    return std::strerror(code);
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

// Writes the records and flushes them; 0 or the errno of the failure.
int writeRecords(std::FILE* f, const std::vector<CurvePoint>& points)
{
    std::string line;
    for (const CurvePoint& p : points) {
        line = record(p.frequency, p.level);
        line += "\r\n";
        if (std::fwrite(line.data(), 1, line.size(), f) != line.size())
            return errno ? errno : EIO;
    }
    if (std::fflush(f) != 0)
        return errno ? errno : EIO;
    return 0;
}

// A device or a pipe has nothing to replace: it is written in place.
std::string writeInPlace(const std::string& path, const std::vector<CurvePoint>& points)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return systemError(errno);
    int code = writeRecords(f, points);
    if (std::fclose(f) != 0 && !code)
        code = errno ? errno : EIO;
    return code ? systemError(code) : std::string();
}

} // namespace

std::string write(const std::string& path, const std::vector<CurvePoint>& points)
{
    // Through a symbolic link, the file it points at is replaced, not the link.
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
    if (exists && !S_ISREG(st.st_mode))
        return writeInPlace(target, points);

    // The new content goes to a temporary file beside the target (so that
    // the rename cannot cross file systems), which then replaces it whole:
    // a failed save leaves the old file as it was.
    std::string tmpl = target + ".XXXXXX";
    const int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return systemError(errno);
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);

    std::FILE* f = fdopen(fd, "wb");
    if (!f) {
        const int code = errno;
        close(fd);
        unlink(tmpl.c_str());
        return systemError(code);
    }
    int code = writeRecords(f, points);
    if (!code && fsync(fileno(f)) != 0)
        code = errno;
    if (std::fclose(f) != 0 && !code)
        code = errno ? errno : EIO;
    if (!code && std::rename(tmpl.c_str(), target.c_str()) != 0)
        code = errno;
    if (code) {
        unlink(tmpl.c_str());
        return systemError(code);
    }
    return {};
}

ReadResult read(const std::string& path, std::size_t maxPoints)
{
    ReadResult result;
    FieldReader reader;
    result.error = reader.open(path);
    if (!result.error.empty())
        return result;
    double last = 0;
    for (;;) {
        double frequency = 0, level = 0;
        FieldReader::Status status = reader.next(frequency);
        if (status == FieldReader::Status::End)
            break;
        if (status == FieldReader::Status::Field) {
            status = reader.next(level);
            if (status == FieldReader::Status::End) {
                result.error = "the file ends in the middle of a record at line " + std::to_string(reader.line());
                break;
            }
        }
        if (status == FieldReader::Status::Error) {
            result.error = reader.error();
            break;
        }
        if (frequency < MinFrequency || frequency > MaxFrequency || !(frequency > last))
            continue;
        if (result.points.size() >= maxPoints) {
            result.error = "more than " + std::to_string(maxPoints) + " points at line " + std::to_string(reader.line());
            break;
        }
        result.points.push_back(CurvePoint{frequency, level});
        last = frequency;
    }
    return result;
}

} // namespace CurveFile

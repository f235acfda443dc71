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

std::string write(const std::string& path, const std::vector<CurvePoint>& points)
{
    // The temporary file lives beside the target so that the rename cannot
    // cross file systems.
    std::string tmpl = path + ".XXXXXX";
    const int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return systemError(errno);
    // mkstemp creates the file for the owner only; give it the usual mode.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    std::FILE* f = fdopen(fd, "wb");
    if (!f) {
        const int code = errno;
        close(fd);
        unlink(tmpl.c_str());
        return systemError(code);
    }
    std::string line;
    int code = 0;
    for (const CurvePoint& p : points) {
        line = record(p.frequency, p.level);
        line += "\r\n";
        if (std::fwrite(line.data(), 1, line.size(), f) != line.size()) {
            code = errno ? errno : EIO;
            break;
        }
    }
    if (!code && std::fflush(f) != 0)
        code = errno ? errno : EIO;
    if (!code && fsync(fileno(f)) != 0)
        code = errno;
    if (std::fclose(f) != 0 && !code)
        code = errno ? errno : EIO;
    if (!code && std::rename(tmpl.c_str(), path.c_str()) != 0)
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

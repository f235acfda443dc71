#include "curves/FieldReader.h"

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <climits>
#include <cmath>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audimera {

namespace {

bool isSeparator(int c)
{
    return c == ',' || c == ' ' || c == '\t';
}

bool isLineBreak(int c)
{
    return c == '\r' || c == '\n';
}

std::string systemErrorText(int error, const char* fallback)
{
    return error != 0 ? std::generic_category().message(error) : std::string(fallback);
}

// The field as it may be shown in a message box: non-printable and non-ASCII
// bytes become '?'.
std::string printable(const char* begin, const char* end)
{
    std::string text(begin, end);
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F)
            c = '?';
    }
    return text;
}

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Whether text (the start of a line, separators skipped) begins with a
// number: an optional sign, then a digit or a "." and a digit.
bool beginsWithNumber(const char* p, const char* end)
{
    if (p != end && (*p == '+' || *p == '-'))
        ++p;
    if (p != end && *p == '.')
        ++p;
    return p != end && isDigit(static_cast<unsigned char>(*p));
}

constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

bool startsWithByteOrderMark(const char* p, const char* end)
{
    return end - p >= 3 && p[0] == ByteOrderMark[0] && p[1] == ByteOrderMark[1] && p[2] == ByteOrderMark[2];
}

// The form of text, the input's first bytes (see the header); full: the
// text is a whole chunk, so its last line may be cut.
FieldReader::Form formOf(const char* begin, const char* end, bool full)
{
    if (startsWithByteOrderMark(begin, end))
        begin += 3;
    if (full) {
        const char* p = end;
        while (p != begin && !isLineBreak(static_cast<unsigned char>(p[-1])))
            --p;
        end = p;
    }
    bool numberLines = false;
    bool allThree = true;
    const char* p = begin;
    while (p != end) {
        const char* lineEnd = p;
        while (lineEnd != end && !isLineBreak(static_cast<unsigned char>(*lineEnd)))
            ++lineEnd;
        while (p != lineEnd && isSeparator(static_cast<unsigned char>(*p)))
            ++p;
        if (p != lineEnd) {
            if (!beginsWithNumber(p, lineEnd))
                return FieldReader::Form::Lines;
            int fields = 0;
            bool inField = false;
            for (; p != lineEnd; ++p) {
                const bool separator = isSeparator(static_cast<unsigned char>(*p));
                if (!separator && !inField)
                    ++fields;
                inField = !separator;
            }
            numberLines = true;
            allThree = allThree && fields == 3;
        }
        p = lineEnd;
        if (p != end)
            ++p;
    }
    return numberLines && allThree ? FieldReader::Form::Lines : FieldReader::Form::Fields;
}

} // namespace

FieldReader::~FieldReader()
{
    close();
}

FieldReader::FieldReader(FieldReader&& other) noexcept
{
    *this = std::move(other);
}

FieldReader& FieldReader::operator=(FieldReader&& other) noexcept
{
    if (this != &other) {
        close();
        m_file = std::exchange(other.m_file, nullptr);
        m_buffer = std::move(other.m_buffer);
        m_pos = std::exchange(other.m_pos, 0);
        m_end = std::exchange(other.m_end, 0);
        m_pushedBack = std::exchange(other.m_pushedBack, -1);
        m_atStart = other.m_atStart;
        m_afterCr = other.m_afterCr;
        m_line = other.m_line;
        m_final = other.m_final;
        m_readError = std::move(other.m_readError);
        m_bytesRead = std::exchange(other.m_bytesRead, 0);
        m_form = std::exchange(other.m_form, std::nullopt);
        m_sensitivity = std::exchange(other.m_sensitivity, std::nullopt);
        m_error = std::move(other.m_error);
    }
    return *this;
}

audimera::Result<int> FieldReader::openRegular(const std::string& path)
{
    // Non-blocking, so that a FIFO without a writer does not hold the open;
    // anything but a regular file is then refused before a read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return audimera::Error::of(Failure::File, systemErrorText(errno, "cannot open the file"));
    struct stat st {};
    const int statError = fstat(fd, &st) != 0 ? errno : 0;
    const int flags = statError ? -1 : fcntl(fd, F_GETFL);
    if (statError || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = statError ? statError : S_ISDIR(st.st_mode) ? EISDIR : 0;
        ::close(fd);
        return audimera::Error::of(Failure::File,
            systemErrorText(error, "not a regular file (a pipe, a device or a socket is not read)"));
    }
    return fd;
}

audimera::Status FieldReader::open(const std::string& path)
{
    *this = FieldReader();
    const audimera::Result<int> fd = openRegular(path);
    if (!fd)
        return fd.error();
    errno = 0;
    m_file = fdopen(*fd, "rb");
    if (!m_file) {
        const int error = errno;
        ::close(*fd);
        return audimera::Error::of(Failure::File, systemErrorText(error, "cannot open the file"));
    }
    m_buffer.resize(ChunkSize);
    return {};
}

FieldReader FieldReader::fromText(std::string text)
{
    FieldReader reader;
    reader.m_buffer = std::move(text);
    reader.m_end = reader.m_buffer.size();
    return reader;
}

void FieldReader::close()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_pos = m_end = 0;
    m_pushedBack = -1;
}

bool FieldReader::refill()
{
    if (!m_file || !m_readError.empty())
        return false;
    errno = 0;
    const std::size_t n = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
    if (std::ferror(m_file)) {
        // What was read with the failure is dropped: a field cut by it must
        // not pass for a whole one.
        m_readError = systemErrorText(errno, "read error");
        return false;
    }
    m_bytesRead += static_cast<long long>(n);
    if (m_bytesRead > MaxBytes) {
        m_readError = "the file is larger than " + std::to_string(MaxBytes / (1024 * 1024)) + " MiB";
        return false;
    }
    m_pos = 0;
    m_end = n;
    return n > 0;
}

// The next byte (0..255), or -1 at the end of the input or on a read failure.
int FieldReader::getByte()
{
    if (m_pushedBack >= 0)
        return std::exchange(m_pushedBack, -1);
    if (m_pos == m_end && !refill())
        return -1;
    return static_cast<unsigned char>(m_buffer[m_pos++]);
}

void FieldReader::noteLineBreak(int c)
{
    // CR LF is one break; so are a lone CR and a lone LF.
    const bool newLine = c == '\r' || !m_afterCr;
    m_afterCr = c == '\r';
    if (newLine && m_line < INT_MAX)
        ++m_line;
    if (m_line > MaxLines + 1 && m_readError.empty()) {
        // The rest is dropped: the next byte asked for ends the reading
        // with this error.
        m_readError = "more than " + std::to_string(MaxLines) + " lines";
        m_pos = m_end;
    }
}

FieldReader::Status FieldReader::fail(std::string message)
{
    m_error = std::move(message);
    m_final = Status::Error;
    return Status::Error;
}

FieldReader::Status FieldReader::next(double& value)
{
    if (m_final != Status::Field)
        return m_final;

    const auto atLine = [this] { return " at line " + std::to_string(m_line); };

    for (;;) {
        const bool atStart = m_atStart;
        int c = getByte();
        m_atStart = false;
        if (c < 0) {
            if (!m_readError.empty())
                return fail(m_readError);
            m_final = Status::End;
            return m_final;
        }
        if (c == 0)
            return fail("NUL byte" + atLine());
        if (isLineBreak(c)) {
            noteLineBreak(c);
            continue;
        }
        m_afterCr = false;
        if (isSeparator(c))
            continue;

        // A field: collect it up to the next separator, line break or end.
        constexpr int ByteOrderMarkLength = 3;
        char field[MaxFieldLength + ByteOrderMarkLength];
        const int limit = atStart ? MaxFieldLength + ByteOrderMarkLength : MaxFieldLength;
        int length = 0;
        field[length++] = static_cast<char>(c);
        for (;;) {
            c = getByte();
            if (c < 0) {
                if (!m_readError.empty())
                    return fail(m_readError);
                break;
            }
            if (c == 0)
                return fail("NUL byte" + atLine());
            if (isSeparator(c) || isLineBreak(c)) {
                m_pushedBack = c;
                break;
            }
            if (length == limit)
                return fail("field too long" + atLine());
            field[length++] = static_cast<char>(c);
        }

        const char* begin = field;
        const char* const end = field + length;
        if (atStart && length >= ByteOrderMarkLength && field[0] == '\xEF' && field[1] == '\xBB'
            && field[2] == '\xBF') {
            begin += ByteOrderMarkLength;
            if (begin == end)
                continue;
        }
        if (end - begin > MaxFieldLength)
            return fail("field too long" + atLine());
        return parseField(begin, end, value);
    }
}

FieldReader::Status FieldReader::parseField(const char* begin, const char* end, double& value)
{
    const auto atLine = [this] { return " at line " + std::to_string(m_line); };
    const auto notANumber = [&] {
        return fail("not a number \"" + printable(begin, end) + "\"" + atLine());
    };

    // from_chars takes no leading '+'; allow exactly one, not followed by a sign.
    const char* digits = begin;
    if (digits != end && *digits == '+') {
        ++digits;
        if (digits == end || *digits == '+' || *digits == '-')
            return notANumber();
    }
    double parsed = 0;
    const auto [ptr, ec] = std::from_chars(digits, end, parsed);
    if (ec == std::errc::result_out_of_range)
        return fail("number out of range \"" + printable(begin, end) + "\"" + atLine());
    // Infinities and NaNs parse, but no file of ours can mean them.
    if (ec != std::errc() || ptr != end || !std::isfinite(parsed))
        return notANumber();
    value = parsed;
    return Status::Field;
}

FieldReader::Form FieldReader::form()
{
    if (m_form)
        return *m_form;
    // Only before anything was read: the first chunk is then the buffer.
    if (m_atStart && m_pushedBack < 0 && m_pos == m_end)
        refill();
    const char* begin = m_buffer.data() + m_pos;
    const std::size_t available = std::min(m_end - m_pos, ChunkSize);
    m_form = m_atStart ? formOf(begin, begin + available, available == ChunkSize) : Form::Fields;
    if (*m_form == Form::Lines) {
        if (startsWithByteOrderMark(begin, begin + available))
            m_pos += 3;
        m_atStart = false;
    }
    return *m_form;
}

FieldReader::Status FieldReader::nextRecord(Record& record)
{
    if (form() == Form::Lines)
        return nextLineRecord(record);
    double frequency = 0, level = 0;
    Status status = next(frequency);
    if (status != Status::Field)
        return status;
    status = next(level);
    if (status == Status::End)
        return fail("the file ends in the middle of a record at line " + std::to_string(m_line));
    if (status != Status::Field)
        return status;
    record = Record{frequency, level, std::nullopt};
    return Status::Field;
}

FieldReader::Status FieldReader::nextLineRecord(Record& record)
{
    if (m_final != Status::Field)
        return m_final;
    const auto atLine = [this] { return " at line " + std::to_string(m_line); };

    constexpr int Columns = 3;
    std::string column[Columns];
    std::string head;
    for (;;) {
        int c = getByte();
        if (c < 0) {
            if (!m_readError.empty())
                return fail(m_readError);
            m_final = Status::End;
            return m_final;
        }
        if (isLineBreak(c)) {
            noteLineBreak(c);
            continue;
        }
        m_afterCr = false;

        // One line, up to its break (left for the next call, so that line()
        // is this line's) or the end: its first columns and its start.
        int fields = 0;
        bool inField = false;
        bool tooLong[Columns] = {};
        for (auto& text : column)
            text.clear();
        head.clear();
        for (;;) {
            if (c == 0)
                return fail("NUL byte" + atLine());
            if (head.size() < MaxHeaderLength)
                head += static_cast<char>(c);
            const bool separator = isSeparator(c);
            if (!separator && !inField)
                ++fields;
            inField = !separator;
            if (!separator && fields <= Columns) {
                std::string& text = column[fields - 1];
                if (text.size() < static_cast<std::size_t>(MaxFieldLength))
                    text += static_cast<char>(c);
                else
                    tooLong[fields - 1] = true;
            }
            c = getByte();
            if (c < 0) {
                if (!m_readError.empty())
                    return fail(m_readError);
                break;
            }
            if (isLineBreak(c)) {
                m_pushedBack = c;
                break;
            }
        }
        if (fields == 0)
            continue;
        if (!beginsWithNumber(column[0].data(), column[0].data() + column[0].size())) {
            noteSensitivity(head);
            continue;
        }
        double values[Columns] = {};
        for (int i = 0; i < std::min(fields, Columns); ++i) {
            if (tooLong[i])
                return fail("field too long" + atLine());
            const std::string& text = column[i];
            if (parseField(text.data(), text.data() + text.size(), values[i]) != Status::Field)
                return Status::Error;
        }
        if (fields < 2)
            return fail("no level after the frequency" + atLine());
        record = Record{values[0], values[1], std::nullopt};
        if (fields >= Columns)
            record.phase = values[2];
        return Status::Field;
    }
}

void FieldReader::noteSensitivity(const std::string& line)
{
    if (m_sensitivity)
        return;
    std::string lower = line;
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::size_t at = std::string::npos;
    for (const char* key : {"sens factor", "sensitivity"}) {
        const std::size_t found = lower.find(key);
        if (found != std::string::npos) {
            at = found + std::char_traits<char>::length(key);
            break;
        }
    }
    if (at == std::string::npos)
        return;
    const char* p = line.data() + at;
    const char* const end = line.data() + line.size();
    const auto skipSpaces = [&] {
        while (p != end && (*p == ' ' || *p == '\t'))
            ++p;
    };
    skipSpaces();
    if (p != end && (*p == '=' || *p == ':'))
        ++p;
    skipSpaces();
    if (p != end && *p == '+')
        ++p;
    double value = 0;
    const auto [numberEnd, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || !std::isfinite(value))
        return;
    p = numberEnd;
    skipSpaces();
    std::string unit;
    while (p != end && unit.size() < 16
           && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || *p == '/' || *p == '%'))
        unit += *p++;
    m_sensitivity = Sensitivity{value, unit};
}

} // namespace audimera

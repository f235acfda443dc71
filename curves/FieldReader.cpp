#include "curves/FieldReader.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <system_error>
#include <utility>

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
        m_error = std::move(other.m_error);
    }
    return *this;
}

audimera::Status FieldReader::open(const std::string& path)
{
    *this = FieldReader();
    errno = 0;
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return audimera::Error{systemErrorText(errno, "cannot open the file")};
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

} // namespace audimera

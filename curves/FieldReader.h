// Reader of the numeric fields of Audimera's text files (frequency lists,
// trace and correction curves).
//
// Syntax:
// - Fields are separated by a comma, spaces or tabs, or a line break (LF,
//   CR LF or a lone CR). Any run of separators counts as one, so empty fields
//   ("1,,2", a trailing comma, blank lines) are skipped rather than refused.
// - A field is a decimal number with "." as the decimal separator whatever
//   the locale: an optional "+" or "-", digits with an optional fraction
//   (".5" and "5." included), an optional exponent ("1e3", "2.5E-2").
// - A UTF-8 byte order mark at the very start of the input is ignored.
//
// Anything else stops the reading with an error that names the line: a field
// that is not a finite number ("abc", "1.2.3", "12kHz", "inf", "0x10"), a
// number beyond the range of a double, a field longer than MaxFieldLength
// characters, a NUL byte anywhere. Files are read in chunks of ChunkSize
// bytes, so memory stays bounded whatever the input.
#pragma once

#include "common/Result.h"

#include <cstddef>
#include <cstdio>
#include <string>

namespace audimera {

class FieldReader {
public:
    enum class Status {
        Field, // value holds the next field
        End,   // no more fields
        Error, // the input is bad or unreadable; error() says why
    };

    static constexpr int MaxFieldLength = 64;
    static constexpr std::size_t ChunkSize = 64 * 1024;

    FieldReader() = default;
    ~FieldReader();
    FieldReader(FieldReader&& other) noexcept;
    FieldReader& operator=(FieldReader&& other) noexcept;
    FieldReader(const FieldReader&) = delete;
    FieldReader& operator=(const FieldReader&) = delete;

    // Opens path for reading, closing any file read before; fails with the
    // system's description of the failure.
    audimera::Status open(const std::string& path);

    // A reader over text held in memory.
    static FieldReader fromText(std::string text);

    // Closes the file, if any. Further reads give End.
    void close();

    // Reads the next field. After End or Error every further call gives the
    // same status again.
    Status next(double& value);

    // Why the last next() gave Error: the system's description of a read
    // failure, or what is wrong with the input and on which line.
    const std::string& error() const { return m_error; }

    // The line, from 1, of the last field read or of the error.
    int line() const { return m_line; }

private:
    int getByte();
    bool refill();
    void noteLineBreak(int c);
    Status fail(std::string message);
    Status parseField(const char* begin, const char* end, double& value);

    std::FILE* m_file = nullptr;
    std::string m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    int m_pushedBack = -1; // a byte read past the end of a field
    bool m_atStart = true; // nothing read yet
    bool m_afterCr = false; // the last byte was a CR, so an LF ends no new line
    int m_line = 1;
    Status m_final = Status::Field; // End or Error once reached
    std::string m_readError; // a read failure met while refilling
    std::string m_error;
};

} // namespace audimera

// Shared pieces of the fuzz targets: the input as a file on disk (the readers
// under test take paths), the field syntax read from memory as an independent
// second source, and a check that stops the run with a report.
#pragma once

#include "curves/FieldReader.h"

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <unistd.h>
#include <vector>

namespace audimera {

namespace fuzz {

// Prints what failed and aborts, which libFuzzer reports as a crash and keeps
// the input that caused it.
[[noreturn]] inline void checkFailed(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "\n*** check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) \
            ::audimera::fuzz::checkFailed(#condition, __FILE__, __LINE__); \
    } while (0)

inline std::string asText(const uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A file of this process's own, rewritten with every input and removed at
// exit. Under -fork or -jobs every worker has its own. In memory (/dev/shm)
// when TMPDIR names no other place: rewriting a file on disk thousands of
// times a second costs more than the reading under test.
inline const std::string& inputPath()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string dir = tmp && *tmp ? tmp : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string p = dir + "/audimera-fuzz-"
            + std::to_string(::getpid()) + ".txt";
        std::atexit([] { std::remove(inputPath().c_str()); });
        return p;
    }();
    return path;
}

// Writes text to inputPath() and returns that path.
inline const std::string& writeInput(const std::string& text)
{
    const std::string& path = inputPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        checkFailed("the input file can be created", __FILE__, __LINE__);
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !written)
        checkFailed("the input file can be written", __FILE__, __LINE__);
    return path;
}

// Everything a FieldReader hands out, in order.
struct Fields {
    std::vector<double> values;
    std::vector<int> lines;      // the line of each value
    bool error = false;          // reading stopped with Error, not End
    std::string errorText;
    int errorLine = 0;
};

inline Fields readFields(FieldReader& reader)
{
    Fields out;
    double v = 0;
    FieldReader::Status status;
    while ((status = reader.next(v)) == FieldReader::Status::Field) {
        out.values.push_back(v);
        out.lines.push_back(reader.line());
    }
    if (status == FieldReader::Status::Error) {
        out.error = true;
        out.errorText = reader.error();
        out.errorLine = reader.line();
    }
    // Once finished, the reader keeps giving the same answer.
    FUZZ_CHECK(reader.next(v) == status);
    return out;
}

inline Fields fieldsOfText(const std::string& text)
{
    FieldReader reader = FieldReader::fromText(text);
    return readFields(reader);
}

// --- Records, modelled from the whole text in memory: the form decided on
// the first FieldReader::ChunkSize bytes, then fields two at a time (the
// Fields form, from fieldsOfText) or one record a line (the Lines form,
// split here line by line).

struct Records {
    bool lines = false; // the Lines form
    std::vector<FieldReader::Record> records;
    bool error = false;
    std::string errorText; // exact in the Lines form; its start in the Fields form
};

inline bool isFieldSeparator(char c)
{
    return c == ',' || c == ' ' || c == '\t';
}

// The lines of text with their numbers as the reader counts them (CR LF,
// a lone CR and a lone LF each end one line).
inline std::vector<std::pair<std::string, int>> linesOf(const std::string& text)
{
    std::vector<std::pair<std::string, int>> lines;
    std::string current;
    int number = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(current, number);
            current.clear();
            ++number;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            current += c;
        }
    }
    lines.emplace_back(current, number);
    return lines;
}

inline std::vector<std::string> tokensOf(const std::string& line)
{
    std::vector<std::string> tokens;
    std::string token;
    for (const char c : line) {
        if (isFieldSeparator(c)) {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty())
        tokens.push_back(token);
    return tokens;
}

inline bool startsNumber(const std::string& t)
{
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    if (i < t.size() && t[i] == '.')
        ++i;
    return i < t.size() && t[i] >= '0' && t[i] <= '9';
}

inline bool linesForm(const std::string& text)
{
    std::string prefix = text.substr(0, FieldReader::ChunkSize);
    if (prefix.compare(0, 3, "\xEF\xBB\xBF") == 0)
        prefix.erase(0, 3);
    if (text.size() >= FieldReader::ChunkSize) {
        const std::size_t lastBreak = prefix.find_last_of("\r\n");
        prefix.erase(lastBreak == std::string::npos ? 0 : lastBreak + 1);
    }
    bool numberLines = false, allThree = true;
    for (const auto& [line, number] : linesOf(prefix)) {
        const std::vector<std::string> tokens = tokensOf(line);
        if (tokens.empty())
            continue;
        if (!startsNumber(tokens[0]))
            return true;
        numberLines = true;
        allThree = allThree && tokens.size() == 3;
    }
    return numberLines && allThree;
}

inline Records recordsOfText(const std::string& text)
{
    Records out;
    out.lines = linesForm(text);
    if (!out.lines) {
        const Fields fields = fieldsOfText(text);
        const std::vector<double>& v = fields.values;
        for (std::size_t i = 0; i + 1 < v.size(); i += 2)
            out.records.push_back(FieldReader::Record{v[i], v[i + 1], std::nullopt});
        if (fields.error) {
            out.error = true;
            out.errorText = fields.errorText;
        } else if (v.size() % 2 != 0) {
            out.error = true;
            out.errorText = "the file ends in the middle of a record";
        }
        return out;
    }
    const bool bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    for (const auto& [line, number] : linesOf(bom ? text.substr(3) : text)) {
        const std::string at = " at line " + std::to_string(number);
        if (line.find('\0') != std::string::npos) {
            out.error = true;
            out.errorText = "NUL byte" + at;
            return out;
        }
        const std::vector<std::string> tokens = tokensOf(line);
        if (tokens.empty() || !startsNumber(tokens[0]))
            continue;
        double values[3] = {};
        for (std::size_t i = 0; i < std::min<std::size_t>(tokens.size(), 3); ++i) {
            const std::string& token = tokens[i];
            if (token.size() > static_cast<std::size_t>(FieldReader::MaxFieldLength)) {
                out.error = true;
                out.errorText = "field too long" + at;
                return out;
            }
            // One field on its own: the field syntax's verdict, on this line.
            // (After a space: a byte order mark inside a line is no mark.)
            FieldReader one = FieldReader::fromText(" " + token);
            if (one.next(values[i]) != FieldReader::Status::Field) {
                out.error = true;
                out.errorText = one.error().substr(0, one.error().rfind(" at line ")) + at;
                return out;
            }
        }
        if (tokens.size() < 2) {
            out.error = true;
            out.errorText = "no level after the frequency" + at;
            return out;
        }
        FieldReader::Record record{values[0], values[1], std::nullopt};
        if (tokens.size() >= 3)
            record.phase = values[2];
        out.records.push_back(record);
    }
    return out;
}

// Text meant for a message box: printable ASCII only, or line breaks.
inline bool isPrintable(const std::string& text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n') || u >= 0x7F)
            return false;
    }
    return true;
}

inline bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace fuzz

} // namespace audimera

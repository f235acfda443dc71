// Shared pieces of the fuzz targets: the input as a file on disk (the readers
// under test take paths), the field syntax read from memory as an independent
// second source, and a check that stops the run with a report.
#pragma once

#include "curves/FieldReader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
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

// Run-time binding of the Audidsp shared library.
//
// The library is loaded by file name on first need, from the program's own
// directory first, then from the program's private library folder of the
// installed layout (bin/../lib/<multiarch>/audimera), and then through the
// system's usual library search. Each export is looked up by name at its
// first call and its address kept.
//
// Not thread-safe: the program binds from its user-interface thread only.
#pragma once

#include "common/Result.h"
#include "dsp/Audidsp.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace audimera {

class DspLibrary {
public:
    // fileName: the library's file name (no directory). searchDirs: folders
    // tried in order before the system's library search; empty means
    // defaultSearchDirs(executableDir()).
    explicit DspLibrary(std::string fileName = AUDIDSP_FILE_NAME,
                        std::vector<std::string> searchDirs = {});
    ~DspLibrary();
    DspLibrary(const DspLibrary&) = delete;
    DspLibrary& operator=(const DspLibrary&) = delete;

    // Loads the library if it is not loaded yet. Returns an empty string on
    // success, otherwise a message that names the file.
    std::string load();

    // The address of an export, binding it on first request. On failure
    // returns nullptr and sets *error to a message naming the file or the
    // export.
    void* symbol(const char* name, std::string* error);

    // Binds every export in names now; fails (kind Install) with the first
    // failure's message. Lets a program refuse to start rather than fail on
    // first use.
    Status require(const std::vector<const char*>& names);

    // Full path of the loaded library, or empty.
    const std::string& loadedPath() const { return m_loadedPath; }

    // The process-wide instance that the program's calls go through.
    static DspLibrary& instance();

    // The folder of the running executable, without a trailing slash.
    static std::string executableDir();

    // The folders searched for a program in exeDir: exeDir itself, then the
    // private library folder that the installed layout puts beside it.
    static std::vector<std::string> defaultSearchDirs(const std::string& exeDir);

private:
    struct Binding {
        std::string name;
        void* address;
    };

    std::string m_fileName;
    std::vector<std::string> m_searchDirs;
    void* m_handle = nullptr;
    std::string m_loadedPath;
    std::vector<Binding> m_bindings;
};

// Thrown by the typed calls below when the library or an export is missing.
class DspError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Typed calls through DspLibrary::instance(), each bound at its first call.
// They throw DspError when the export cannot be bound; the program checks
// with DspLibrary::require() at start-up so that this does not happen later.
namespace Audidsp {
void GetBSpline(int32_t res, const double* xIn, const double* yIn, int32_t nIn, double* xOut,
                double* yOut, int32_t* outCount, int32_t order);
double LowPass44(double x, double init, int32_t reset);

// The exports the program calls, for DspLibrary::require().
const std::vector<const char*>& programExports();
} // namespace Audidsp

} // namespace audimera
